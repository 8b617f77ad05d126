// Exception carrying a numeric code from the library's error table beside its
// text, so a catcher can react to one condition by number.
#pragma once

#include "qm/exception.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

struct errorcode_entry_t {
    uint32_t code;
    const char* name;
    const char* message;
};

// The error table in its fixed order; a look-up takes the first row of a code.
extern const errorcode_entry_t errorcode_table[];
extern const std::size_t errorcode_table_size;

class errorcode_t : public exception_t {
public:
    enum : uint32_t {
        no_error = 0x00000000,
        generic_error = 0x20000001,
        unknown_exception = 0x20000002,
        winapi = 0x20000003,
        not_implemented = 0x20000004,
        tolmar_min = 0x20000100,
        tolmar_max = 0x200001FF,
        xml_min = 0x20000200,
        xml_max = 0x200002FF,
        qmnet_min = 0x20000300,
        qmnet_max = 0x200003FF,
        tolmar_generic = 0x20000101,
        tolmar_no_engine = 0x20000102,
        tolmar_no_config_file = 0x20000103,
        tolmar_bad_config_file = 0x20000103,
        tolmar_bad_type = 0x20000104,
        tolmar_bad_function = 0x20000105,
        tolmar_bad_cgid = 0x20000106,
        tolmar_bad_ruid = 0x20000107,
        tolmar_readonly = 0x20000108,
        tolmar_internal = 0x20000109,
        xml_generic = 0x20000201,
        xml_internal = 0x20000202,
        xml_unknown_exception = 0x20000203,
        xml_rethrow_exception = 0x20000204,
        xml_file_open = 0x20000205,
        xml_file_read = 0x20000206,
        xml_parse_error = 0x20000207,
        xml_element_missing = 0x20000208,
        xml_element_illegal = 0x20000209,
        xml_element_invalid = 0x2000020A,
        xml_attribute_missing = 0x2000020B,
        xml_attribute_illegal = 0x2000020C,
        xml_attribute_invalid = 0x2000020D,
        qmnet_generic = 0x20000301,
        qmnet_sock_timeout = 0x20000302,
        qmnet_malformed_address = 0x20000303,
        qmnet_bad_address = 0x20000303,
    };

    // message = context + ": " + the table message of the code.
    errorcode_t(uint32_t code, const char* context);
    errorcode_t(uint32_t code, const std::string& context);

    uint32_t code = 0;
};

} // namespace qm
