// Ccom_vector: a collection whose items a generator makes on first access and
// the collection keeps, so every read of an index gives the same object.
#pragma once

#include "server.h"

namespace flashkit {

// Makes the items of a collection: 0 count, 1 the item at an index (a new
// object with one reference), none when out of range.
class dispatch_generator_abc {
public:
    virtual ~dispatch_generator_abc() = default;
    virtual long count() = 0;
    virtual IDispatch* make(long index) = 0;
};

// Version objects of a copy of a list of records.
class version_generator_t : public dispatch_generator_abc {
public:
    version_generator_t(std::vector<update::version_ptr> records, database_ptr database);
    long count() override;
    IDispatch* make(long index) override;

private:
    std::vector<update::version_ptr> records;
    database_ptr database;
};

class Ccom_vector : public CComObjectRootEx<CComSingleThreadModel>,
                    public CComCoClass<Ccom_vector, &CLSID_com_vector>,
                    public IDispatchImpl<Icom_vector, &IID_Icom_vector, &LIBID_FLASHKITLib>,
                    public ISupportErrorInfoImpl<&IID_Icom_vector> {
public:
    DECLARE_REGISTRY_DATA("com_vector Class", "Flashkit.com_vector.1", "Flashkit.com_vector", true, true, "Apartment",
                          LIBID_FLASHKITLib, "1.0")
    BEGIN_COM_MAP(Ccom_vector)
    COM_INTERFACE_ENTRY(Icom_vector)
    COM_INTERFACE_ENTRY2(IDispatch, Icom_vector)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    void FinalRelease();

    HRESULT get_length(long* pVal) override;
    HRESULT at(long index, IDispatch** item) override;

    // Item access by number: a name that reads as an unsigned decimal number
    // n is DISPID 256 + n.
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* arg_err) override;

    std::unique_ptr<dispatch_generator_abc> generator;

private:
    long size();
    // The item of a valid index, made on first access; not counted for the caller.
    IDispatch* item(long index);
    std::string index_text(long index);

    std::vector<IDispatch*> items;
};

} // namespace flashkit
