#include "dsp_bank.h"

#include "flashkit/tftp.h"

#include <qm/exception.h>

namespace update::dsp_bank {
namespace {

// The first file of a split-form bank holds this many bytes of the image.
constexpr uint64_t split_size = 65536;

struct pair_t {
    const char* first;
    const char* second;
    int32_t bank;
};
constexpr pair_t split_pairs[] = {{"s16", "s17", 0}, {"s18", "s19", 2}};

} // namespace

bool valid_image(std::initializer_list<std::string> files, uld_checksum_t* checksum)
{
    uld_checksum_t own;
    uld_checksum_t& sum = checksum ? *checksum : own;
    sum.init(0, 0);
    for (const std::string& file : files)
        sum.feed(file);
    return sum.check();
}

void read_image(const qm::ip_address_t& address, dsp_bank_t& bank, dsp_files::temp_files_t& temp, status_t& status,
                double a, double b)
{
    tftp& client = tftp::settings();
    status.set_percent(a);
    status.set_text("reading monitor code");
    status.set_percent(a + 0.2 * (b - a));
    bank.file = temp("temp");

    try {
        client.get(address, "c10", bank.file);
        int32_t which = 0;
        bool good = valid_image({bank.file}, &bank.checksum);
        status.set_percent(a + 0.5 * (b - a));
        if (!good) {
            client.get(address, "c11", bank.file);
            which = 1;
            good = valid_image({bank.file}, &bank.checksum);
        }
        if (good) {
            bank.form = dsp_bank_t::single_file;
            bank.bank = which;
            status.set_percent(b);
            return;
        }
    } catch (const qm::exception_t&) {
        // Devices that keep the split form serve no single-file banks.
    }

    const std::string second = temp("temp1");
    for (const pair_t& pair : split_pairs) {
        try {
            client.get(address, pair.first, bank.file);
            client.get(address, pair.second, second);
        } catch (const tftp::tftp_exception_t& e) {
            // A device that does not answer is reported as such; a pair the
            // device refuses holds no image.
            if (e.code == tftp::transfer_timed_out)
                throw;
            continue;
        }
        if (valid_image({bank.file, second}, &bank.checksum)) {
            dsp_files::copy(second, 0, dsp_files::size_of(second), bank.file, true);
            bank.form = dsp_bank_t::split;
            bank.bank = pair.bank;
            status.set_percent(b);
            return;
        }
    }
    throw qm::exception_t("Invalid DSP code in the device");
}

void write_image(const qm::ip_address_t& address, const dsp_bank_t& bank, dsp_files::temp_files_t& temp,
                 status_t& status)
{
    tftp& client = tftp::settings();
    if (!valid_image({bank.file}))
        throw qm::exception_t("Invalid DSP code to download");
    status.set_percent(50);

    if (bank.form == dsp_bank_t::single_file) {
        const char* target = bank.bank == 0 ? "c11" : "c10";
        const std::string back = temp("tempv");
        client.put(address, bank.file, target);
        status.set_percent(70);
        client.get(address, target, back);
        status.set_percent(80);
        if (!valid_image({back}))
            throw qm::exception_t("invalid download");
        status.set_percent(90);
        return;
    }

    const pair_t& target = bank.bank == 0 ? split_pairs[1] : split_pairs[0];
    const uint64_t size = dsp_files::size_of(bank.file);
    if (size > split_size) {
        const std::string first = temp("temp");
        const std::string rest = temp("temp1");
        const std::string back1 = temp("tempv1");
        const std::string back2 = temp("tempv2");
        dsp_files::copy(bank.file, 0, split_size, first, false);
        dsp_files::copy(bank.file, split_size, size - split_size, rest, false);
        client.put(address, first, target.first);
        status.set_percent(60);
        client.put(address, rest, target.second);
        status.set_percent(70);
        client.get(address, target.first, back1);
        client.get(address, target.second, back2);
        status.set_percent(80);
        if (!valid_image({back1, back2}))
            throw qm::exception_t("invalid download");
    } else {
        const std::string back = temp("tempv");
        client.put(address, bank.file, target.first);
        status.set_percent(70);
        client.get(address, target.first, back);
        status.set_percent(80);
        if (!valid_image({back}))
            throw qm::exception_t("invalid download");
    }
    status.set_percent(90);
}

} // namespace update::dsp_bank
