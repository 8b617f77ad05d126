#include "qm/errorcode.h"

#include <cstdio>

namespace qm {

const errorcode_entry_t errorcode_table[] = {
    {0x00000000, "no_error", "this is not an error"},
    {0x20000001, "generic_error", "Generic error"},
    {0x20000002, "unknown_exception", "unknown exception encountered"},
    {0x20000003, "winapi", "Windows API error"},
    {0x20000004, "not_implemented", "function is not implemented"},
    {0x20000100, "tolmar_min", "TOLMAR min error number"},
    {0x200001FF, "tolmar_max", "TOLMAR max error number"},
    {0x20000200, "xml_min", "XML min error number"},
    {0x200002FF, "xml_max", "XML max error number"},
    {0x20000300, "qmnet_min", "qm::net min error number"},
    {0x200003FF, "qmnet_max", "qm::net max error number"},
    {0x20000101, "tolmar_generic", "control engine generic error"},
    {0x20000102, "tolmar_no_engine", "control engine does not exist"},
    {0x20000103, "tolmar_no_config_file", "no configuration file"},
    {0x20000103, "tolmar_bad_config_file", "bad configuration file"},
    {0x20000104, "tolmar_bad_type", "bad control type specified in configuration file"},
    {0x20000105, "tolmar_bad_function", "bad function name specified in configuration file"},
    {0x20000106, "tolmar_bad_cgid", "bad change group id"},
    {0x20000107, "tolmar_bad_ruid", "bad ruid"},
    {0x20000108, "tolmar_readonly", "control is read-only"},
    {0x20000109, "tolmar_internal", "control engine internal failure"},
    {0x20000201, "xml_generic", "xml generic error"},
    {0x20000202, "xml_internal", "xml internal error"},
    {0x20000203, "xml_unknown_exception", "xml unknown exception"},
    {0x20000204, "xml_rethrow_exception", "xml error"},
    {0x20000205, "xml_file_open", "xml file open failure"},
    {0x20000206, "xml_file_read", "xml file read failure"},
    {0x20000207, "xml_parse_error", "xml parse error"},
    {0x20000208, "xml_element_missing", "xml element missing"},
    {0x20000209, "xml_element_illegal", "xml element illegal"},
    {0x2000020A, "xml_element_invalid", "xml element invalid"},
    {0x2000020B, "xml_attribute_missing", "xml attribute missing"},
    {0x2000020C, "xml_attribute_illegal", "xml attribute illegal"},
    {0x2000020D, "xml_attribute_invalid", "xml attribute invalid"},
    {0x20000301, "qmnet_generic", "network generic error"},
    {0x20000302, "qmnet_sock_timeout", "sockets timeout"},
    {0x20000303, "qmnet_malformed_address", "malformed network address"},
    {0x20000303, "qmnet_bad_address", "bad network address"},
};

const std::size_t errorcode_table_size = sizeof errorcode_table / sizeof errorcode_table[0];

namespace {

std::string code_message(uint32_t code)
{
    for (std::size_t i = 0; i < errorcode_table_size; ++i)
        if (errorcode_table[i].code == code)
            return errorcode_table[i].message;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "unkown qm::errorcode 0x%X", code);
    return buffer;
}

} // namespace

errorcode_t::errorcode_t(uint32_t code_, const char* context)
    : exception_t(std::string(context ? context : "") + ": " + code_message(code_)), code(code_)
{}

errorcode_t::errorcode_t(uint32_t code_, const std::string& context) : errorcode_t(code_, context.c_str()) {}

} // namespace qm
