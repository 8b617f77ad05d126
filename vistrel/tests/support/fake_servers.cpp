#include "fake_servers.h"

#include <atomic>
#include <iterator>

namespace vistrel_test {

namespace {

std::string Text(BSTR b) { return com::bstr_to_utf8(b); }

BSTR Bstr(const std::string& s) { return com::bstr_from_utf8(s); }

// One automation object: IUnknown, IDispatch (no late binding) and error
// information for its own interface. New objects hold one reference, the
// caller's.
template <class I> class Object : public I, public ISupportErrorInfo {
public:
    virtual ~Object() = default;
    HRESULT QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(I))
            *out = static_cast<I*>(this);
        else if (riid == IID_ISupportErrorInfo)
            *out = static_cast<ISupportErrorInfo*>(this);
        else
            return *out = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override
    {
        const ULONG left = --refs;
        if (!left)
            delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override { return riid == __uuidof(I) ? S_OK : S_FALSE; }

protected:
    // Logs the call; the scripted failure for it, else S_OK.
    HRESULT Call(const std::string& text)
    {
        if (World().quiet)
            return S_OK;
        World().calls.push_back(text);
        for (const auto& [prefix, failure] : World().failures) {
            if (text.compare(0, prefix.size(), prefix) != 0)
                continue;
            if (!failure.second.empty())
                com::set_error_info(GUID_NULL, u"fake", com::utf8_to_utf16(failure.second));
            return failure.first;
        }
        return S_OK;
    }
    // Logs the call and, when it succeeds, hands out what make() gives.
    template <class Make> HRESULT Give(const std::string& text, IDispatch** out, Make make)
    {
        HRESULT hr = Call(text);
        if (SUCCEEDED(hr))
            *out = make();
        return hr;
    }

private:
    std::atomic<ULONG> refs{1};
};

class Device : public Object<Icom_device> {
public:
    Device(std::string adapter, std::string mac) : adapter(std::move(adapter)), mac(std::move(mac)) {}
    FakeDevice* Record()
    {
        auto& a = World().adapters[adapter];
        auto it = a.devices.find(mac);
        return mac.empty() || it == a.devices.end() ? nullptr : &it->second;
    }
    HRESULT get_ip(BSTR* ip) override
    {
        HRESULT hr = Call("device.ip " + mac);
        if (SUCCEEDED(hr) && Record())
            *ip = Bstr(Record()->ip);
        return hr;
    }
    HRESULT put_ip(BSTR ip) override
    {
        HRESULT hr = Call("device.put_ip " + mac + " " + Text(ip));
        if (SUCCEEDED(hr) && Record())
            Record()->ip = Text(ip);
        return hr;
    }
    HRESULT get_mac(BSTR* out) override
    {
        if (Record())
            *out = Bstr(mac);
        return Call("device.mac " + mac);
    }
    HRESULT get_age(LONG* ms) override
    {
        if (Record())
            *ms = Record()->age;
        return Call("device.age " + mac);
    }
    HRESULT get_valid(LONG* valid) override { return *valid = Record() ? 1 : 0, Call("device.valid " + mac); }
    const std::string adapter, mac;
};

class Adapter : public Object<Icom_adapter> {
public:
    explicit Adapter(std::string name) : name(std::move(name)) {}
    FakeAdapter& A() { return World().adapters[name]; }
    HRESULT Get(const char* what, const std::string& value, BSTR* out)
    {
        HRESULT hr = Call(std::string("adapter.") + what);
        if (SUCCEEDED(hr))
            *out = Bstr(value);
        return hr;
    }
    HRESULT Put(const char* what, BSTR in, std::string& value)
    {
        HRESULT hr = Call(std::string("adapter.put_") + what + " " + Text(in));
        if (SUCCEEDED(hr))
            value = Text(in);
        return hr;
    }
    HRESULT Put(const char* what, LONG in, long& value)
    {
        value = in;
        return Call(std::string("adapter.put_") + what + " " + std::to_string(in));
    }
    HRESULT get_autoassign(LONG* on) override { return *on = A().autoassign, Call("adapter.autoassign"); }
    HRESULT put_autoassign(LONG on) override { return Put("autoassign", on, A().autoassign); }
    HRESULT get_ip(BSTR* out) override { return Get("ip", A().ip, out); }
    HRESULT get_ip_subnet(BSTR* out) override { return Get("ip_subnet", A().subnet, out); }
    HRESULT get_ip_start(BSTR* out) override { return Get("ip_start", A().start, out); }
    HRESULT put_ip_start(BSTR in) override { return Put("ip_start", in, A().start); }
    HRESULT get_ip_end(BSTR* out) override { return Get("ip_end", A().end, out); }
    HRESULT put_ip_end(BSTR in) override { return Put("ip_end", in, A().end); }
    HRESULT get_ip_start_default(BSTR* out) override { return Get("ip_start_default", A().startDefault, out); }
    HRESULT get_ip_end_default(BSTR* out) override { return Get("ip_end_default", A().endDefault, out); }
    // The walk goes in MAC order; past the last device comes one without a record.
    HRESULT device_first(IDispatch** out) override
    {
        auto& d = A().devices;
        return Give("adapter.device_first", out,
                    [&] { return new Device(name, d.empty() ? std::string() : d.begin()->first); });
    }
    HRESULT device_next(IDispatch* current, IDispatch** out) override
    {
        HRESULT hr = Call("adapter.device_next");
        CComPtr<Icom_device> asked;
        if (FAILED(hr) || !current)
            return hr;
        current->QueryInterface(IID_Icom_device, reinterpret_cast<void**>(&asked.p));
        if (auto* device = dynamic_cast<Device*>(asked.p)) {
            auto& d = A().devices;
            auto it = device->mac.empty() ? d.end() : d.upper_bound(device->mac);
            *out = new Device(name, it == d.end() ? std::string() : it->first);
        }
        return S_OK;
    }
    HRESULT get_send_reservation(LONG* on) override
    {
        return *on = A().sendReservation, Call("adapter.send_reservation");
    }
    HRESULT put_send_reservation(LONG on) override { return Put("send_reservation", on, A().sendReservation); }
    HRESULT start() override { return A().started = true, Call("adapter.start"); }
    HRESULT device_get(BSTR mac, IDispatch** out) override
    {
        return Give("adapter.device_get " + Text(mac), out, [&] { return new Device(name, Text(mac)); });
    }
    HRESULT device_remove(BSTR mac, LONG* removed) override
    {
        HRESULT hr = Call("adapter.device_remove " + Text(mac));
        if (SUCCEEDED(hr))
            *removed = A().devices.erase(Text(mac)) ? 1 : 0;
        return hr;
    }
    const std::string name;
};

class Names : public Object<Icom_bstr_vector> {
public:
    HRESULT get_length(LONG* length) override
    {
        return *length = static_cast<LONG>(World().adapterNames.size()), Call("names.length");
    }
    HRESULT at(LONG index, BSTR* text) override
    {
        HRESULT hr = Call("names.at " + std::to_string(index));
        if (SUCCEEDED(hr))
            *text = Bstr(World().adapterNames.at(static_cast<size_t>(index)));
        return hr;
    }
};

class Manager : public Object<Imanager> {
public:
    HRESULT show_console() override { return Call("manager.show_console"); }
    HRESULT get_adapters(IDispatch** out) override
    {
        return Give("manager.adapters", out, [] { return new Names; });
    }
    HRESULT adapter_get(BSTR name, IDispatch** out) override
    {
        return Give("manager.adapter_get " + Text(name), out, [&] { return new Adapter(Text(name)); });
    }
};

class Variable : public Object<Icom_variable> {
public:
    Variable(std::string ip, FakeChange change) : ip(std::move(ip)), change(std::move(change)) {}
    HRESULT get_ip(BSTR* out) override { return *out = Bstr(ip), S_OK; }
    HRESULT put_ip(BSTR) override { return E_NOTIMPL; }
    HRESULT get_name(BSTR* out) override { return *out = Bstr(change.name), Call("variable.name"); }
    HRESULT put_name(BSTR) override { return E_NOTIMPL; }
    HRESULT get_value(BSTR* out) override { return *out = Bstr(change.value), Call("variable.value"); }
    HRESULT put_value(BSTR) override { return E_NOTIMPL; }
    HRESULT get_valid(long* out) override { return *out = change.valid, Call("variable.valid"); }
    HRESULT get_type(long* out) override { return *out = change.type, Call("variable.type"); }
    const std::string ip;
    const FakeChange change;
};

class Variables : public Object<Icom_variable_vector> {
public:
    Variables(std::string ip, std::vector<FakeChange> items) : ip(std::move(ip)), items(std::move(items)) {}
    HRESULT get_length(long* out) override { return *out = static_cast<long>(items.size()), Call("vector.length"); }
    HRESULT at(long index, IDispatch** out) override
    {
        return Give("vector.at " + std::to_string(index), out,
                    [&] { return new Variable(ip, items.at(static_cast<size_t>(index))); });
    }
    const std::string ip;
    const std::vector<FakeChange> items;
};

// The poller's settings are only set; the console never reads them back.
class Poller : public Object<Icom_manager> {
public:
    HRESULT start() override { return World().pollerStarted = true, Call("poller.start"); }
    HRESULT stop() override { return Call("poller.stop"); }
    // The one-shot read of the firmware update's hardware value.
    HRESULT get(BSTR ip, BSTR name, IDispatch** out) override
    {
        return Give("poller.get " + Text(ip) + " " + Text(name), out, [&] {
            return new Variable(Text(ip), FakeChange{Text(name), World().hardwareValue, 2, 1});
        });
    }
    HRESULT set(BSTR, BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT watch(BSTR ip, BSTR name) override
    {
        HRESULT hr = Call("poller.watch " + Text(ip) + " " + Text(name));
        if (SUCCEEDED(hr))
            World().watches.insert({Text(ip), Text(name)});
        return hr;
    }
    HRESULT end_watch(BSTR ip, BSTR name) override
    {
        World().watches.erase({Text(ip), Text(name)});
        return Call("poller.end_watch " + Text(ip) + " " + Text(name));
    }
    HRESULT get_all(IDispatch**) override { return E_NOTIMPL; }
    HRESULT get_changes(IDispatch**) override { return E_NOTIMPL; }
    HRESULT get_num_threads(long*) override { return E_NOTIMPL; }
    HRESULT put_num_threads(long n) override { return Call("poller.num_threads " + std::to_string(n)); }
    HRESULT get_poll_period(long*) override { return E_NOTIMPL; }
    HRESULT put_poll_period(long ms) override { return Call("poller.poll_period " + std::to_string(ms)); }
    HRESULT get_timeout(long*) override { return E_NOTIMPL; }
    HRESULT put_timeout(long ms) override { return Call("poller.timeout " + std::to_string(ms)); }
    HRESULT get_retry_count(long*) override { return E_NOTIMPL; }
    HRESULT put_retry_count(long n) override { return Call("poller.retry_count " + std::to_string(n)); }
    HRESULT get_user(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_user(BSTR) override { return E_NOTIMPL; }
    HRESULT get_password(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_password(BSTR) override { return E_NOTIMPL; }
    // Each change is handed out once.
    HRESULT get_device_changes(BSTR ip, IDispatch** out) override
    {
        const std::string address = Text(ip);
        return Give("poller.get_device_changes " + address, out, [&] {
            std::vector<FakeChange> items;
            items.swap(World().changes[address]);
            return new Variables(address, std::move(items));
        });
    }
    HRESULT clear_watch() override
    {
        World().watches.clear();
        return Call("poller.clear_watch");
    }
    HRESULT end_device_watch(BSTR ip) override
    {
        const std::string address = Text(ip);
        for (auto it = World().watches.begin(); it != World().watches.end();)
            it = it->first == address ? World().watches.erase(it) : std::next(it);
        return Call("poller.end_device_watch " + address);
    }
    HRESULT get_watch_size(long* out) override
    {
        return *out = static_cast<long>(World().watches.size()), Call("poller.watch_size");
    }
    HRESULT get_next(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
};

// The firmware server: one version, compatible with itself; jobs that are
// done at once (unless told otherwise); a device of unit type 2 without a
// custom configuration.
class Version : public Object<Iversion> {
public:
    HRESULT get_name(BSTR* out) override { return *out = Bstr("alder 1.2.3"), Call("version.name"); }
    HRESULT get_path(BSTR* out) override { return *out = Bstr(""), Call("version.path"); }
    HRESULT get_code_cs(long* out) override { return *out = 0, Call("version.code_cs"); }
    HRESULT get_fpga_cs(long* out) override { return *out = 0, Call("version.fpga_cs"); }
    HRESULT get_fpga2_cs(long* out) override { return *out = 0, Call("version.fpga2_cs"); }
    HRESULT get_boot_cs(long* out) override { return *out = 0, Call("version.boot_cs"); }
    HRESULT get_valid(long* out) override { return *out = 1, Call("version.valid"); }
    HRESULT get_exists(long* out) override { return *out = 1, Call("version.exists"); }
    HRESULT get_is_compatible(IDispatch*, long* out) override { return *out = 1, Call("version.is_compatible"); }
    HRESULT get_config_cs(long* out) override { return *out = 0, Call("version.config_cs"); }
    HRESULT get_type(long* out) override { return *out = 2, Call("version.type"); }
    HRESULT get_code2_cs(long* out) override { return *out = 0, Call("version.code2_cs"); }
};

class Versions : public Object<Icom_vector> {
public:
    explicit Versions(long count) : count(count) {}
    HRESULT get_length(long* out) override { return *out = count, Call("versions.length"); }
    HRESULT at(long index, IDispatch** out) override
    {
        return Give("versions.at " + std::to_string(index), out, [] { return new Version; });
    }
    const long count;
};

class Check : public Object<Iupdate_check> {
public:
    HRESULT get_boot_update(long* out) override { return *out = 0, Call("check.boot_update"); }
    HRESULT get_code_update(long* out) override { return *out = 1, Call("check.code_update"); }
    HRESULT get_fpga_update(long* out) override { return *out = 0, Call("check.fpga_update"); }
    HRESULT get_config_update(long* out) override { return *out = 0, Call("check.config_update"); }
    HRESULT get_boot_differs(long* out) override { return *out = 0, Call("check.boot_differs"); }
    HRESULT get_code2_update(long* out) override { return *out = 0, Call("check.code2_update"); }
};

class Job;

class Unit : public Object<Iunit> {
public:
    HRESULT get_ver(IDispatch** out) override
    {
        return Give("unit.ver", out, [] { return new Version; });
    }
    HRESULT check_update(IDispatch*, IDispatch** out) override
    {
        return Give("unit.check_update", out, [] { return new Check; });
    }
    HRESULT get_mac(BSTR* out) override { return *out = Bstr("00602b000001"), Call("unit.mac"); }
    HRESULT put_mac(BSTR) override { return E_NOTIMPL; }
    HRESULT download(IDispatch*, IDispatch**) override { return E_NOTIMPL; }
    HRESULT get_type(long* out) override { return *out = 2, Call("unit.type"); }
    HRESULT download2(IDispatch*, long, long, IDispatch**) override { return E_NOTIMPL; }
    HRESULT get_VCXO_center(long*) override { return E_NOTIMPL; }
    HRESULT put_VCXO_center(long) override { return E_NOTIMPL; }
    HRESULT get_allowed_channels(long*) override { return E_NOTIMPL; }
    HRESULT put_allowed_channels(long) override { return E_NOTIMPL; }
    HRESULT get_ssi_format(long*) override { return E_NOTIMPL; }
    HRESULT put_ssi_format(long) override { return E_NOTIMPL; }
    HRESULT download3(IDispatch*, long boot, long code, long config, IDispatch** out) override;
    HRESULT get_custom(BSTR* out) override { return *out = Bstr(""), Call("unit.custom"); }
    HRESULT get_custom_ver(IDispatch** out) override
    {
        return Give("unit.custom_ver", out, [] { return new Version; });
    }
};

class Job : public Object<Ijob> {
public:
    explicit Job(std::string kind) : kind(std::move(kind)) {}
    HRESULT get_percent(double* out) override { return *out = 100, Call("job.percent " + kind); }
    HRESULT get_status(BSTR* out) override { return *out = Bstr("Done"), Call("job.status " + kind); }
    HRESULT get_done(long* out) override { return *out = World().jobDone, Call("job.done " + kind); }
    HRESULT cancel() override { return Call("job.cancel " + kind); }
    HRESULT result(IDispatch** out) override
    {
        return Give("job.result " + kind, out, [] { return new Unit; });
    }
    const std::string kind;
};

HRESULT Unit::download3(IDispatch*, long boot, long code, long config, IDispatch** out)
{
    return Give("unit.download3 " + std::to_string(boot) + " " + std::to_string(code) + " " + std::to_string(config),
                out, [] { return new Job("download"); });
}

class Updater : public Object<Iupdater> {
public:
    HRESULT upload(BSTR ip, IDispatch** out) override
    {
        return Give("updater.upload " + Text(ip), out, [] { return new Job("upload"); });
    }
    HRESULT find_all(IDispatch** out) override
    {
        return Give("updater.find_all", out, [] { return new Versions(1); });
    }
    HRESULT find_prefered(IDispatch*, IDispatch** out) override
    {
        return Give("updater.find_prefered", out, [] { return new Version; });
    }
    HRESULT find_compatible(IDispatch*, IDispatch** out) override
    {
        return Give("updater.find_compatible", out, [] { return new Versions(1); });
    }
    HRESULT get_timeout(long*) override { return E_NOTIMPL; }
    HRESULT put_timeout(long ms) override { return Call("updater.put_timeout " + std::to_string(ms)); }
    HRESULT get_retries(long*) override { return E_NOTIMPL; }
    HRESULT put_retries(long n) override { return Call("updater.put_retries " + std::to_string(n)); }
    HRESULT get_holdoff(long*) override { return E_NOTIMPL; }
    HRESULT put_holdoff(long ms) override { return Call("updater.put_holdoff " + std::to_string(ms)); }
    HRESULT put_debug(long on) override { return Call("updater.put_debug " + std::to_string(on)); }
    HRESULT init(BSTR path) override { return Call("updater.init " + Text(path)); }
    HRESULT get_write_timeout(long*) override { return E_NOTIMPL; }
    HRESULT put_write_timeout(long ms) override { return Call("updater.put_write_timeout " + std::to_string(ms)); }
    HRESULT find_sametype(long type, int hardware, IDispatch** out) override
    {
        return Give("updater.find_sametype " + std::to_string(type) + " " + std::to_string(hardware), out,
                    [] { return new Versions(1); });
    }
    HRESULT find_sameHWtype(IDispatch*, IDispatch**) override { return E_NOTIMPL; }
};

template <class T> class Factory : public IClassFactory {
public:
    explicit Factory(HRESULT FakeWorld::*creation) : creation(creation) {}
    HRESULT QueryInterface(REFIID riid, void** out) override
    {
        if (riid != IID_IUnknown && riid != IID_IClassFactory)
            return *out = nullptr, E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (FAILED(World().*creation))
            return World().*creation;
        T* object = new T;
        HRESULT hr = object->QueryInterface(riid, out);
        object->Release();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    HRESULT FakeWorld::*creation;
};

Factory<Manager> manager_factory(&FakeWorld::managerCreation);
Factory<Poller> poller_factory(&FakeWorld::pollerCreation);
Factory<Updater> updater_factory(&FakeWorld::updaterCreation);

} // namespace

std::vector<std::string> FakeWorld::Calls(const std::string& prefix) const
{
    std::vector<std::string> found;
    for (const auto& c : calls)
        if (c.compare(0, prefix.size(), prefix) == 0)
            found.push_back(c);
    return found;
}

FakeWorld& World()
{
    static FakeWorld world;
    return world;
}

FakeServers::FakeServers(bool fakePoller)
{
    World() = FakeWorld();
    World().adapterNames = {"eth0"};
    World().adapters["eth0"];
    CoRegisterClassObject(CLSID_manager, &manager_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &managerCookie);
    if (fakePoller)
        CoRegisterClassObject(CLSID_com_manager, &poller_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                              &pollerCookie);
    CoRegisterClassObject(CLSID_updater, &updater_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &updaterCookie);
}

FakeServers::~FakeServers()
{
    CoRevokeClassObject(managerCookie);
    if (pollerCookie)
        CoRevokeClassObject(pollerCookie);
    CoRevokeClassObject(updaterCookie);
}

} // namespace vistrel_test
