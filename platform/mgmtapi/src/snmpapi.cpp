// libsnmpapi.so: memory and binding-list utilities of the SNMP manager.
#include <cstdlib>
#include <cstring>

#include "snmp.h"

extern "C" {

// Zero-filled. (malloc and memset: the C library's calloc skips its
// per-thread cache, and these blocks are small and frequent.)
LPVOID SnmpUtilMemAlloc(UINT bytes)
{
    if (bytes == 0)
        bytes = 1;
    void* block = std::malloc(bytes);
    if (block)
        std::memset(block, 0, bytes);
    return block;
}

LPVOID SnmpUtilMemReAlloc(LPVOID block, UINT bytes)
{
    // realloc to 0 bytes would free the block and answer NULL, which callers
    // take as a failure: keep a valid block instead.
    return std::realloc(block, bytes ? bytes : 1);
}

VOID SnmpUtilMemFree(LPVOID block) { std::free(block); }

VOID SnmpUtilOidFree(AsnObjectIdentifier* oid)
{
    if (!oid)
        return;
    std::free(oid->ids);
    oid->ids = nullptr;
    oid->idLength = 0;
}

VOID SnmpUtilAsnAnyFree(AsnAny* value)
{
    if (!value)
        return;
    switch (value->asnType) {
    case ASN_OCTETSTRING:
    case ASN_BITS:
    case ASN_SEQUENCE:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
        if (value->asnValue.string.dynamic)
            std::free(value->asnValue.string.stream);
        break;
    case ASN_OBJECTIDENTIFIER:
        SnmpUtilOidFree(&value->asnValue.object);
        break;
    default:
        break;
    }
    std::memset(&value->asnValue, 0, sizeof value->asnValue);
    value->asnType = ASN_NULL;
}

VOID SnmpUtilVarBindFree(SnmpVarBind* binding)
{
    if (!binding)
        return;
    SnmpUtilOidFree(&binding->name);
    SnmpUtilAsnAnyFree(&binding->value);
}

VOID SnmpUtilVarBindListFree(SnmpVarBindList* list)
{
    if (!list)
        return;
    if (list->list)
        for (UINT i = 0; i < list->len; ++i)
            SnmpUtilVarBindFree(&list->list[i]);
    std::free(list->list);
    list->list = nullptr;
    list->len = 0;
}

} // extern "C"
