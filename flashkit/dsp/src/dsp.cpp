#include "flashkit/dsp.h"

#include "dsp_bank.h"
#include "dsp_files.h"

#include "flashkit/snmp_session.h"
#include "flashkit/tftp.h"
#include "flashkit/uld.h"

#include <qm/exception.h>

#include <snmp_pp/snmp_pp.h>

#include <chrono>
#include <map>
#include <thread>

namespace update {
namespace {

const std::string proc_state_1 = "1.3.6.1.4.1.2680.1.4.1.1.0";
const std::string proc_state_2 = "1.3.6.1.4.1.2680.1.4.1.2.0";
const std::string dsp_control = "1.3.6.1.4.1.2680.1.4.2";
constexpr int running = 2;
constexpr long snmp_timeout_ms = 1000;
constexpr int snmp_retries = 3;
// Word addresses the DSP program's base and check address may take.
constexpr int lowest_address = 256;
constexpr int highest_address = 15359;

bool in_address_range(int64_t address) { return address >= lowest_address && address <= highest_address; }

// Reads one batch of integers or fails with the text.
void get_ints(snmp_session_t& session, std::map<std::string, int>& values, const char* failure)
{
    if (!session.get_ints(values))
        throw qm::exception_t(failure);
}

} // namespace

std::optional<uint32_t> dsp_entry_value(const std::string& entry_oid)
{
    // The control table, six numbers of the entry's name, then the count
    // variable ".1.0": the prefix is the name without those four characters.
    const Oid table(dsp_control.c_str());
    const Oid oid(entry_oid.c_str());
    constexpr unsigned long entry_length = 16;
    if (!oid.valid() || oid.len() != entry_length + 2 || oid[entry_length] != 1 || oid[entry_length + 1] != 0)
        return std::nullopt;
    for (unsigned long i = 0; i < table.len(); ++i)
        if (oid[i] != table[i])
            return std::nullopt;
    if (entry_oid.size() < 4 || entry_oid.compare(entry_oid.size() - 4, 4, ".1.0") != 0)
        return std::nullopt;

    const uint32_t c11 = oid[10], c12 = oid[11], c13 = oid[12], c14 = oid[13], c15 = oid[14], c16 = oid[15];
    const uint32_t word = ((c11 - 1) & 0x3F) | (((c12 - 1) << 6) & 0xFFF) | (((c13 - 1) << 12) & 0x3FFFF) |
        (((c14 - 1) << 18) & 0xFFFFFF) | (((c15 - 1) << 24) & 0x3FFFFFFF) | (c16 << 30);
    return word - 0x40000000u;
}

void dsp_t::deploy(const qm::ip_address_t& address, const std::string& file, status_t& status)
{
    status.set_text("DSP is deploying");
    status.set_percent(20);
    if (!dsp_bank::valid_image({file}))
        throw qm::exception_t("Invalid DSP code to deploy");
    tftp& client = tftp::settings();
    try {
        client.put(address, file, "c12");
    } catch (const qm::exception_t&) {
        client.put(address, file, "s20");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    status.set_text("DSP deployment is done");
    status.set_percent(100);
}

void dsp_t::download(const qm::ip_address_t& address, const std::string& file, status_t& status)
{
    dsp_files::temp_files_t temp(address);
    status.set_percent(10);
    if (!dsp_bank::valid_image({file}))
        throw qm::exception_t("Invalid DSP code to download");

    dsp_bank_t bank;
    dsp_bank::read_image(address, bank, temp, status, 20, 40);

    // The device's monitor code (its first block, checksum word included),
    // then the new program.
    const std::string combined = temp("temp2");
    dsp_files::copy(bank.file, 0, 4ull * bank.checksum.first_checksum_index, combined, false);
    dsp_files::copy(file, 0, dsp_files::size_of(file), combined, true);
    bank.file = combined;

    status.set_text("downloading DSP");
    status.set_percent(50);
    dsp_bank::write_image(address, bank, temp, status);
    status.set_text("DSP download is done");
    status.set_percent(100);
}

void dsp_t::save_args(const qm::ip_address_t& address, status_t& status)
{
    dsp_files::temp_files_t temp(address);
    status.set_text("DSP is saving arguments");
    status.set_percent(10);
    snmp_session_t session(address.to_string(), snmp_timeout_ms, snmp_retries);

    std::map<std::string, int> states{{proc_state_1, 0}, {proc_state_2, 0}};
    get_ints(session, states, "dsp proc get fails");
    if (states[proc_state_1] != running || states[proc_state_2] != running)
        throw qm::exception_t("dspb is not running");

    int count = 0;
    std::string entry;
    if (!session.get_next(dsp_control, count, entry))
        throw qm::exception_t("get_next( dsp_control ) fails");
    const std::optional<uint32_t> decoded = dsp_entry_value(entry);
    if (!decoded)
        throw qm::exception_t("get_next( dsp_control ) fails");
    const std::string prefix = entry.substr(0, entry.size() - 4);

    int config = 0;
    if (!session.get_int(prefix + ".3.0", config))
        throw qm::exception_t("Unexpected SNMP response");
    if (config <= 2)
        throw qm::exception_t("Unexpected DSP configuration");

    const std::string flash = prefix + ".4.1.2";
    std::map<std::string, int> layout{{flash + ".1", 0}, {flash + ".2", 0}, {flash + ".3", 0}};
    get_ints(session, layout, "Unexpected SNMP response");
    const uint32_t flash_word = static_cast<uint32_t>(layout[flash + ".1"]);
    const int base = layout[flash + ".2"];
    const int check_address = layout[flash + ".3"];
    if (!in_address_range(base) || !in_address_range(check_address))
        throw qm::exception_t("Unexpected DSP configuration, possible wrong Ostrevo version");
    // Every argument must land inside the program's address range.
    if (count < 0 || (count > 0 && !in_address_range(int64_t(base) + count - 1)))
        throw qm::exception_t("Unexpected DSP configuration");

    dsp_bank_t bank;
    dsp_bank::read_image(address, bank, temp, status, 20, 40);
    qm::uld::image_t image(bank.file);

    if (*decoded != flash_word || image.read_word(static_cast<uint32_t>(check_address)) != flash_word)
        throw qm::exception_t("Inconsistent DSP configuration, flash mismatch");

    const std::string args = prefix + ".2.1.2";
    std::map<std::string, int> values;
    for (int k = 1; k <= count; ++k)
        values[args + "." + std::to_string(k)] = 0;
    get_ints(session, values, "Unexpected SNMP response");
    for (int k = 1; k <= count; ++k) {
        const uint32_t value = static_cast<uint32_t>(values[args + "." + std::to_string(k)]);
        if (!image.write_word(static_cast<uint32_t>(base + k - 1), value))
            throw qm::exception_t("Unexpected DSP configuration");
    }

    bank.file = temp("temp_newimage");
    dsp_files::create(bank.file);
    image.write_file(bank.file);
    dsp_bank::write_image(address, bank, temp, status);
    status.set_text("DSP save arguments is done");
    status.set_percent(100);
}

} // namespace update
