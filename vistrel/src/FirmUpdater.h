// The driver of one firmware update run: device after device it reads the
// device through the firmware server, lets the user choose a version, writes
// it, and shows each job in the progress dialog.
#pragma once

#include <flashkit/flashkit_com.h>

#include <string>
#include <vector>

class firm_updater_t {
public:
    // Creates the firmware server's updater and hands it the TFTP settings
    // of "vistrel.ini"; a failure ends the program (COM failure policy).
    firm_updater_t();
    ~firm_updater_t();
    firm_updater_t(const firm_updater_t&) = delete;
    firm_updater_t& operator=(const firm_updater_t&) = delete;

    // The firmware folder.
    void init(const std::string& folder);
    void clear();
    void add(const std::string& address);

    // 0: every device was updated; 1: the user cancelled (a version dialog
    // or a job); 2: a job failed, error holds its status text. A cancel or a
    // failure ends the run: the devices after it are not touched.
    int update(std::string& error);

    // The device's hardware value read once over SNMP through a poller of
    // its own, or -1 when the device gives no valid answer.
    static int hardware_value(const std::string& address);

private:
    int update_device(const std::string& address, std::string& error);
    // Shows the job until it ends; 0, or 1 (cancelled) or 2 (failed) with
    // its status text.
    int run_job(IDispatch* started, const std::string& title, std::string& error);

    CComPtr<Iupdater> updater;
    CComPtr<Iunit> unit;
    CComPtr<Ijob> job;
    std::vector<std::string> devices;
    // The last choice of the version dialog, reused by "Apply to all".
    CComPtr<Iversion> chosen;
    bool apply_to_all = false;
    long boot_range = 0;
    long code_range = 0;
    long config_range = 0;
};
