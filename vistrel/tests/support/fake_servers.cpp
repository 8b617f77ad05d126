#include "fake_servers.h"

#include <atomic>
#include <iterator>

namespace vistrel_test {

namespace {

std::string Text(BSTR b)
{
    return com::bstr_to_utf8(b);
}

BSTR Bstr(const std::string& s)
{
    return com::bstr_from_utf8(s);
}

// One automation object: IUnknown, IDispatch (no late binding) and error
// information for its own interface.
template <class I>
class Object : public I, public ISupportErrorInfo {
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
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
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

private:
    std::atomic<ULONG> refs{1};
};

template <class T>
IDispatch* Hand(T* object)
{
    return static_cast<IDispatch*>(object); // the caller owns the one reference
}

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
        if (FAILED(hr))
            return hr;
        if (FakeDevice* d = Record())
            *ip = Bstr(d->ip);
        return S_OK;
    }
    HRESULT put_ip(BSTR ip) override
    {
        HRESULT hr = Call("device.put_ip " + mac + " " + Text(ip));
        if (SUCCEEDED(hr))
            if (FakeDevice* d = Record())
                d->ip = Text(ip);
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
        if (FakeDevice* d = Record())
            *ms = d->age;
        return Call("device.age " + mac);
    }
    HRESULT get_valid(LONG* valid) override
    {
        *valid = Record() ? 1 : 0;
        return Call("device.valid " + mac);
    }
    const std::string adapter, mac;
};

class Adapter : public Object<Icom_adapter> {
public:
    explicit Adapter(std::string name) : name(std::move(name)) {}
    FakeAdapter& A() { return World().adapters[name]; }
    HRESULT Text(const char* what, const std::string& value, BSTR* out)
    {
        HRESULT hr = Call(std::string("adapter.") + what);
        if (SUCCEEDED(hr))
            *out = Bstr(value);
        return hr;
    }
    HRESULT Put(const char* what, BSTR in, std::string& value)
    {
        HRESULT hr = Call(std::string("adapter.put_") + what + " " + vistrel_test::Text(in));
        if (SUCCEEDED(hr))
            value = vistrel_test::Text(in);
        return hr;
    }
    HRESULT get_autoassign(LONG* on) override { return *on = A().autoassign, Call("adapter.autoassign"); }
    HRESULT put_autoassign(LONG on) override
    {
        A().autoassign = on;
        return Call("adapter.put_autoassign " + std::to_string(on));
    }
    HRESULT get_ip(BSTR* out) override { return Text("ip", A().ip, out); }
    HRESULT get_ip_subnet(BSTR* out) override { return Text("ip_subnet", A().subnet, out); }
    HRESULT get_ip_start(BSTR* out) override { return Text("ip_start", A().start, out); }
    HRESULT put_ip_start(BSTR in) override { return Put("ip_start", in, A().start); }
    HRESULT get_ip_end(BSTR* out) override { return Text("ip_end", A().end, out); }
    HRESULT put_ip_end(BSTR in) override { return Put("ip_end", in, A().end); }
    HRESULT get_ip_start_default(BSTR* out) override { return Text("ip_start_default", A().startDefault, out); }
    HRESULT get_ip_end_default(BSTR* out) override { return Text("ip_end_default", A().endDefault, out); }
    HRESULT device_first(IDispatch** out) override
    {
        HRESULT hr = Call("adapter.device_first");
        if (FAILED(hr))
            return hr;
        auto& d = A().devices;
        *out = Hand(new Device(name, d.empty() ? std::string() : d.begin()->first));
        return S_OK;
    }
    HRESULT device_next(IDispatch* current, IDispatch** out) override
    {
        HRESULT hr = Call("adapter.device_next");
        if (FAILED(hr))
            return hr;
        CComPtr<Icom_device> asked;
        if (current)
            current->QueryInterface(IID_Icom_device, reinterpret_cast<void**>(&asked.p));
        auto* device = dynamic_cast<Device*>(asked.p);
        if (!device)
            return S_OK;
        auto& d = A().devices;
        auto it = device->mac.empty() ? d.end() : d.upper_bound(device->mac);
        *out = Hand(new Device(name, it == d.end() ? std::string() : it->first));
        return S_OK;
    }
    HRESULT get_send_reservation(LONG* on) override { return *on = A().sendReservation, Call("adapter.send_reservation"); }
    HRESULT put_send_reservation(LONG on) override
    {
        A().sendReservation = on;
        return Call("adapter.put_send_reservation " + std::to_string(on));
    }
    HRESULT start() override
    {
        A().started = true;
        return Call("adapter.start");
    }
    HRESULT device_get(BSTR mac, IDispatch** out) override
    {
        HRESULT hr = Call("adapter.device_get " + vistrel_test::Text(mac));
        if (SUCCEEDED(hr))
            *out = Hand(new Device(name, vistrel_test::Text(mac)));
        return hr;
    }
    HRESULT device_remove(BSTR mac, LONG* removed) override
    {
        const std::string m = vistrel_test::Text(mac);
        HRESULT hr = Call("adapter.device_remove " + m);
        if (SUCCEEDED(hr))
            *removed = A().devices.erase(m) ? 1 : 0;
        return hr;
    }
    const std::string name;
};

class Names : public Object<Icom_bstr_vector> {
public:
    HRESULT get_length(LONG* length) override
    {
        *length = static_cast<LONG>(World().adapterNames.size());
        return Call("names.length");
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
        HRESULT hr = Call("manager.adapters");
        if (SUCCEEDED(hr))
            *out = Hand(new Names);
        return hr;
    }
    HRESULT adapter_get(BSTR name, IDispatch** out) override
    {
        HRESULT hr = Call("manager.adapter_get " + Text(name));
        if (SUCCEEDED(hr))
            *out = Hand(new Adapter(Text(name)));
        return hr;
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
        HRESULT hr = Call("vector.at " + std::to_string(index));
        if (SUCCEEDED(hr))
            *out = Hand(new Variable(ip, items.at(static_cast<size_t>(index))));
        return hr;
    }
    const std::string ip;
    const std::vector<FakeChange> items;
};

class Poller : public Object<Icom_manager> {
public:
    HRESULT start() override
    {
        World().pollerStarted = true;
        return Call("poller.start");
    }
    HRESULT stop() override { return Call("poller.stop"); }
    HRESULT get(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
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
    HRESULT get_num_threads(long* out) override { return *out = World().threads, S_OK; }
    HRESULT put_num_threads(long n) override
    {
        World().threads = n;
        return Call("poller.num_threads " + std::to_string(n));
    }
    HRESULT get_poll_period(long* out) override { return *out = World().pollPeriod, S_OK; }
    HRESULT put_poll_period(long ms) override
    {
        World().pollPeriod = ms;
        return Call("poller.poll_period " + std::to_string(ms));
    }
    HRESULT get_timeout(long* out) override { return *out = World().timeout, S_OK; }
    HRESULT put_timeout(long ms) override
    {
        World().timeout = ms;
        return Call("poller.timeout " + std::to_string(ms));
    }
    HRESULT get_retry_count(long* out) override { return *out = World().retries, S_OK; }
    HRESULT put_retry_count(long n) override
    {
        World().retries = n;
        return Call("poller.retry_count " + std::to_string(n));
    }
    HRESULT get_user(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_user(BSTR) override { return E_NOTIMPL; }
    HRESULT get_password(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_password(BSTR) override { return E_NOTIMPL; }
    HRESULT get_device_changes(BSTR ip, IDispatch** out) override
    {
        const std::string address = Text(ip);
        HRESULT hr = Call("poller.get_device_changes " + address);
        if (FAILED(hr))
            return hr;
        std::vector<FakeChange> items;
        items.swap(World().changes[address]);
        *out = Hand(new Variables(address, std::move(items)));
        return S_OK;
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
        *out = static_cast<long>(World().watches.size());
        return Call("poller.watch_size");
    }
    HRESULT get_next(BSTR, BSTR, IDispatch**) override { return E_NOTIMPL; }
};

template <class T>
class Factory : public IClassFactory {
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

FakeServers::FakeServers()
{
    World() = FakeWorld();
    World().adapterNames = {"eth0"};
    World().adapters["eth0"];
    CoRegisterClassObject(CLSID_manager, &manager_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                          &managerCookie);
    CoRegisterClassObject(CLSID_com_manager, &poller_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                          &pollerCookie);
}

FakeServers::~FakeServers()
{
    CoRevokeClassObject(managerCookie);
    CoRevokeClassObject(pollerCookie);
}

} // namespace vistrel_test
