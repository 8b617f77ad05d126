// The shared manager: the adapter list's names and one adapter object per
// name, cached without a reference while clients hold it.
#include <scoutline/com/objects.h>

#include <qm/console.h>

#include <windows.h>

#include <exception>
#include <ostream>

namespace scoutline {

namespace {
std::unique_ptr<qm::vx::adapter_list_t>& list_holder()
{
    static std::unique_ptr<qm::vx::adapter_list_t> list;
    return list;
}
} // namespace

qm::vx::adapter_list_t& adapter_list()
{
    auto& list = list_holder();
    if (!list)
        list = std::make_unique<qm::vx::adapter_list_t>();
    return *list;
}

void reset_adapter_list() { list_holder().reset(); }

} // namespace scoutline

HRESULT Cmanager::show_console()
{
    AllocConsole();
    return S_OK;
}

HRESULT Cmanager::get_adapters(IDispatch** vector)
{
    if (!vector)
        return E_POINTER;
    CComObject<Ccom_bstr_vector>* names = nullptr;
    HRESULT hr = CComObject<Ccom_bstr_vector>::CreateInstance(&names);
    if (FAILED(hr))
        return hr;
    names->AddRef();
    try {
        scoutline::adapter_list().names(names->items);
    } catch (const std::exception& e) {
        qm::console() << "Failed to read the adapter list: " << e.what() << std::endl;
    }
    hr = names->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(vector));
    names->Release();
    return hr;
}

HRESULT Cmanager::adapter_get(BSTR name_text, IDispatch** adapter)
{
    if (!adapter)
        return E_POINTER;
    const std::string name = com::bstr_to_utf8(name_text);
    auto it = cache.find(name);
    if (it == cache.end()) {
        qm::console() << "creating adapter " << name << std::endl;
        CComObject<Ccom_adapter>* object = nullptr;
        HRESULT hr = CComObject<Ccom_adapter>::CreateInstance(&object);
        if (FAILED(hr))
            return hr;
        std::unique_ptr<qm::vx::adapter_t> engine;
        try {
            engine = scoutline::adapter_list().create_adapter(name);
        } catch (const std::exception& e) {
            qm::console() << "AdapterOpen failure: " << e.what() << std::endl;
        }
        object->bind(std::move(engine), this, name);
        it = cache.emplace(name, object).first;
    }
    return it->second->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(adapter));
}

void Cmanager::forget(const std::string& name, Ccom_adapter* adapter)
{
    auto it = cache.find(name);
    if (it != cache.end() && it->second == adapter) {
        qm::console() << "removing adapter..." << std::endl;
        cache.erase(it);
    }
}
