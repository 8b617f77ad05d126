// Snmp over net-snmp's single-session API: one library session (one UDP
// socket) per Snmp object, opened at the first request and kept; every request
// carries its own destination, community, version, time-out and retries, so
// changing targets costs nothing. No configuration file, MIB or persistent
// state is read or written.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/snmpIPBaseDomain.h>
#include <net-snmp/library/snmpUDPDomain.h>

#include "snmp_pp/snmp_pp.h"

// Opening and closing library sessions touches library-wide state that the
// distribution's build does not lock: serialise them process-wide. The
// function is inline so that every copy of this code in one process (it is
// linked statically into several shared libraries) shares one mutex.
inline std::mutex& vx_netsnmp_open_lock()
{
    static std::mutex lock;
    return lock;
}

namespace {

std::mutex hook_lock;
vx_snmp_test::exchange_hook* hook = nullptr;
std::atomic<bool> hook_set{false}; // lets real exchanges skip the lock

bool global_init()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        std::lock_guard<std::mutex> guard(vx_netsnmp_open_lock());
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_session probe;
        snmp_sess_init(&probe); // the library's own once-only set-up, without MIBs
        ok = true;
    });
    return ok;
}

// Largest time-out handed to the library (one day), so that the microsecond
// value cannot overflow.
constexpr unsigned long kMaxHundredths = 8640000;

// A value that the library took out of an Opaque (float, double, 64-bit
// numbers) goes back into the Opaque's own octets: the tag the agent sent,
// the length and the value in network order.
std::unique_ptr<SnmpSyntax> opaque_octets(const netsnmp_variable_list* v)
{
    std::vector<unsigned char> out{ASN_OPAQUE_TAG1, v->type, 0};
    auto big_endian = [&](uint64_t bits, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
    };
    switch (v->type) {
    case ASN_OPAQUE_FLOAT: {
        uint32_t bits = 0;
        if (v->val.floatVal)
            std::memcpy(&bits, v->val.floatVal, sizeof bits);
        big_endian(bits, 4);
        break;
    }
    case ASN_OPAQUE_DOUBLE: {
        uint64_t bits = 0;
        if (v->val.doubleVal)
            std::memcpy(&bits, v->val.doubleVal, sizeof bits);
        big_endian(bits, 8);
        break;
    }
    default: { // the 64-bit integers, in the fewest octets that keep the sign
        const uint64_t bits = v->val.counter64
            ? (uint64_t(v->val.counter64->high & 0xFFFFFFFFul) << 32) | (v->val.counter64->low & 0xFFFFFFFFul)
            : 0;
        const bool is_signed = v->type == ASN_OPAQUE_I64;
        int bytes = 8;
        while (bytes > 1) {
            const unsigned top = static_cast<unsigned>(bits >> (8 * (bytes - 1))) & 0xFF;
            const unsigned next_bit = static_cast<unsigned>(bits >> (8 * (bytes - 1) - 1)) & 1;
            if ((top == 0 && !next_bit) || (is_signed && top == 0xFF && next_bit))
                --bytes;
            else
                break;
        }
        if (!is_signed && ((bits >> (8 * bytes - 1)) & 1))
            out.push_back(0);
        big_endian(bits, bytes);
        break;
    }
    }
    out[2] = static_cast<unsigned char>(out.size() - 3);
    return std::make_unique<OpaqueStr>(out.data(), out.size());
}

// An Oid from the library's identifier numbers.
Oid oid_of(const oid* ids, size_t length)
{
    if constexpr (std::is_same_v<oid, unsigned long>) {
        return Oid(ids, static_cast<unsigned long>(length));
    } else {
        unsigned long wide[SNMP_MAX_OID_LEN];
        if (length > SNMP_MAX_OID_LEN)
            return Oid(ids ? wide : nullptr, static_cast<unsigned long>(length));
        std::copy(ids, ids + length, wide);
        return Oid(wide, static_cast<unsigned long>(length));
    }
}

std::unique_ptr<SnmpSyntax> value_from_variable(const netsnmp_variable_list* v, int& exception)
{
    exception = 0;
    switch (v->type) {
    case ASN_INTEGER:
        return std::make_unique<SnmpInt32>(v->val.integer ? *v->val.integer : 0);
    case ASN_OCTET_STR:
        return std::make_unique<OctetStr>(v->val.string, v->val_len);
    case ASN_OPAQUE:
        return std::make_unique<OpaqueStr>(v->val.string, v->val_len);
#ifdef NETSNMP_WITH_OPAQUE_SPECIAL_TYPES
    case ASN_OPAQUE_FLOAT:
    case ASN_OPAQUE_DOUBLE:
    case ASN_OPAQUE_COUNTER64:
    case ASN_OPAQUE_I64:
    case ASN_OPAQUE_U64:
        return opaque_octets(v);
#endif
    case ASN_BIT_STR:
        return std::make_unique<vx_snmp_detail::TaggedOctets>(sNMP_SYNTAX_BITS, v->val.string, v->val_len);
    case ASN_OBJECT_ID:
        return std::make_unique<Oid>(oid_of(v->val.objid, v->val_len / sizeof(oid)));
    case ASN_IPADDRESS:
        if (v->val_len == 4)
            return std::make_unique<IpAddress>(v->val.string);
        // Keep the octets of a malformed address so that callers can tell.
        return std::make_unique<vx_snmp_detail::TaggedOctets>(sNMP_SYNTAX_IPADDR, v->val.string, v->val_len);
    case ASN_COUNTER:
        return std::make_unique<Counter32>(v->val.integer ? (*v->val.integer & 0xFFFFFFFFul) : 0);
    case ASN_GAUGE:
        return std::make_unique<Gauge32>(v->val.integer ? (*v->val.integer & 0xFFFFFFFFul) : 0);
    case ASN_TIMETICKS:
        return std::make_unique<TimeTicks>(v->val.integer ? (*v->val.integer & 0xFFFFFFFFul) : 0);
    case ASN_UINTEGER:
        return std::make_unique<vx_snmp_detail::TaggedUInt32>(ASN_UINTEGER,
                                                              v->val.integer ? (*v->val.integer & 0xFFFFFFFFul) : 0);
    case ASN_COUNTER64:
        if (!v->val.counter64)
            return std::make_unique<Counter64>(0ull);
        return std::make_unique<Counter64>(v->val.counter64->high & 0xFFFFFFFFul, v->val.counter64->low & 0xFFFFFFFFul);
    case SNMP_NOSUCHOBJECT:
    case SNMP_NOSUCHINSTANCE:
    case SNMP_ENDOFMIBVIEW:
        exception = v->type;
        return nullptr;
    case ASN_NULL:
        return nullptr;
    default:
        // Anything else is kept as its octets under its own tag.
        return std::make_unique<vx_snmp_detail::TaggedOctets>(v->type, v->val.string, v->val.string ? v->val_len : 0);
    }
}

// Adds one binding with its value to a set request; false when the value
// cannot be encoded.
struct oid_name {
    oid ids[SNMP_MAX_OID_LEN];
    size_t length = 0;
    explicit oid_name(const Oid& from) : length(from.len()) { std::copy(from.ids().begin(), from.ids().end(), ids); }
    const oid* data() const { return ids; }
    size_t size() const { return length; }
};

bool add_value(netsnmp_pdu* pdu, const oid_name& name, const Vb& vb)
{
    const SnmpSyntax* value = vb.value();
    if (!value)
        return snmp_add_null_var(pdu, name.data(), name.size()) != nullptr;
    const int syntax = value->get_syntax();
    if (auto* i = dynamic_cast<const SnmpInt32*>(value)) {
        long v = static_cast<long>(*i);
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_INTEGER, &v, sizeof v) != nullptr;
    }
    if (auto* u = dynamic_cast<const SnmpUInt32*>(value)) {
        u_long v = static_cast<unsigned long>(*u);
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), static_cast<u_char>(syntax), &v, sizeof v) !=
            nullptr;
    }
    if (auto* c = dynamic_cast<const Counter64*>(value)) {
        struct counter64 v;
        v.high = c->high();
        v.low = c->low();
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_COUNTER64, &v, sizeof v) != nullptr;
    }
    if (auto* o = dynamic_cast<const Oid*>(value)) {
        if (!o->valid())
            return false;
        const oid_name ids(*o);
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_OBJECT_ID, ids.data(),
                                     ids.size() * sizeof(oid)) != nullptr;
    }
    if (auto* a = dynamic_cast<const Address*>(value)) {
        if (!a->valid())
            return false;
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_IPADDRESS, a->octets(), 4) != nullptr;
    }
    if (auto* s = dynamic_cast<const OctetStr*>(value)) {
        static const u_char empty = 0;
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), static_cast<u_char>(syntax),
                                     s->len() ? s->data() : &empty, s->len()) != nullptr;
    }
    return false;
}

} // namespace

struct Snmp::Session {
    void* handle = nullptr;

    ~Session() { close(); }
    void close()
    {
        if (handle) {
            std::lock_guard<std::mutex> guard(vx_netsnmp_open_lock());
            snmp_sess_close(handle);
            handle = nullptr;
        }
    }

    // The library session; false when it cannot be opened. The peer given here
    // is only the default destination: requests name their own.
    bool open(const sockaddr_in& peer, int& status)
    {
        if (handle)
            return true;
        netsnmp_session cfg;
        snmp_sess_init(&cfg); // no peer name: the transport below is the peer
        cfg.version = SNMP_VERSION_1;
        static char fallback[] = "public"; // for requests without a community
        cfg.community = reinterpret_cast<u_char*>(fallback);
        cfg.community_len = sizeof fallback - 1;
        // The transport straight from the address: the library's parsing of an
        // endpoint text (name look-up included) costs more than the socket.
        netsnmp_ep endpoint{};
        endpoint.a.sin = peer;
        {
            std::lock_guard<std::mutex> guard(vx_netsnmp_open_lock());
            netsnmp_transport* transport = netsnmp_udp_transport(&endpoint, 0);
            // snmp_sess_add takes the transport over, closing it when it fails.
            if (transport)
                handle = snmp_sess_add(&cfg, transport, nullptr, nullptr);
        }
        if (!handle)
            status = cfg.s_snmp_errno == SNMPERR_BAD_ADDRESS ? SNMP_CLASS_INVALID_ADDRESS : SNMP_CLASS_TL_FAILED;
        return handle != nullptr;
    }
};

Snmp::Snmp(int& status, unsigned short port, bool bind_ipv6) : session_(new Session)
{
    if (!global_init()) {
        status = SNMP_CLASS_ERROR;
        return;
    }
    status = SNMP_CLASS_SUCCESS;
    if (port != 0) {
        // Report a taken local port now, as a session bound to it would fail.
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) {
            status = SNMP_CLASS_TL_FAILED;
            return;
        }
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
            status = SNMP_CLASS_TL_IN_USE;
        ::close(fd);
    }
}

Snmp::~Snmp() = default;

int Snmp::get(Pdu& pdu, const SnmpTarget& target) { return exchange(VX_SNMP_GET, pdu, target); }
int Snmp::get_next(Pdu& pdu, const SnmpTarget& target) { return exchange(VX_SNMP_GETNEXT, pdu, target); }
int Snmp::set(Pdu& pdu, const SnmpTarget& target) { return exchange(VX_SNMP_SET, pdu, target); }

int Snmp::exchange(int pdu_type, Pdu& pdu, const SnmpTarget& target)
{
    auto* ctarget = dynamic_cast<const CTarget*>(&target);
    if (!ctarget)
        return SNMP_CLASS_INVALID_TARGET;
    if (hook_set.load(std::memory_order_acquire)) {
        vx_snmp_test::exchange_hook fake;
        {
            std::lock_guard<std::mutex> guard(hook_lock);
            if (hook)
                fake = *hook;
        }
        if (fake)
            return fake(pdu_type, pdu, *ctarget);
    }
    if (!target.valid())
        return SNMP_CLASS_INVALID_ADDRESS;
    if (pdu.get_vb_count() == 0)
        return SNMP_CLASS_INVALID_PDU;
    for (int i = 0; i < pdu.get_vb_count(); ++i) {
        const Oid& name = pdu.vb(i).get_oid();
        if (!name.valid() || name.len() == 0)
            return SNMP_CLASS_INVALID_OID;
    }
    if (!global_init())
        return SNMP_CLASS_ERROR;

    // Destination and settings of this request.
    const UdpAddress& address = target.address();
    const unsigned short port = address.get_port() ? address.get_port() : SNMP_DEFAULT_PORT;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    std::memcpy(&peer.sin_addr, address.octets(), 4);
    const OctetStr& community = pdu_type == VX_SNMP_SET ? ctarget->writecommunity() : ctarget->readcommunity();
    const long version = target.get_version() == version2c ? SNMP_VERSION_2c : SNMP_VERSION_1;

    Session& s = *session_;
    {
        int status = SNMP_CLASS_SUCCESS;
        if (!s.open(peer, status))
            return status;
    }
    // Time-out and retries are read from the session while the request runs.
    netsnmp_session* settings = snmp_sess_session(s.handle);
    settings->timeout = static_cast<long>(std::min(target.get_timeout(), kMaxHundredths)) * 10000L;
    settings->retries = target.get_retry();

    const int command = pdu_type == VX_SNMP_GET ? SNMP_MSG_GET
        : pdu_type == VX_SNMP_GETNEXT           ? SNMP_MSG_GETNEXT
                                                : SNMP_MSG_SET;
    netsnmp_pdu* request = snmp_pdu_create(command);
    if (!request)
        return SNMP_CLASS_RESOURCE_UNAVAIL;
    // The library frees these with the request. An empty community is left to
    // the library, which then sends its default one.
    request->version = version;
    auto* destination = static_cast<netsnmp_indexed_addr_pair*>(std::malloc(sizeof(netsnmp_indexed_addr_pair)));
    if (destination)
        std::memset(destination, 0, sizeof *destination);
    request->transport_data = destination;
    request->transport_data_length = destination ? sizeof(netsnmp_indexed_addr_pair) : 0;
    if (community.len()) {
        request->community = static_cast<u_char*>(std::malloc(community.len()));
        if (request->community)
            std::memcpy(request->community, community.data(), community.len());
        request->community_len = request->community ? community.len() : 0;
    }
    if (!destination || (community.len() && !request->community)) {
        snmp_free_pdu(request);
        return SNMP_CLASS_RESOURCE_UNAVAIL;
    }
    std::memcpy(&destination->remote_addr.sin, &peer, sizeof peer);
    for (int i = 0; i < pdu.get_vb_count(); ++i) {
        const Vb& vb = pdu.vb(i);
        const oid_name name(vb.get_oid());
        const bool ok = command == SNMP_MSG_SET ? add_value(request, name, vb)
                                                : snmp_add_null_var(request, name.data(), name.size()) != nullptr;
        if (!ok) {
            snmp_free_pdu(request);
            return SNMP_CLASS_INVALID_PDU;
        }
    }
    pdu.set_request_id(static_cast<unsigned long>(request->reqid));

    netsnmp_pdu* response = nullptr;
    const int result = snmp_sess_synch_response(s.handle, request, &response);
    if (result == STAT_TIMEOUT) {
        if (response)
            snmp_free_pdu(response);
        return SNMP_CLASS_TIMEOUT;
    }
    if (result != STAT_SUCCESS || !response) {
        if (response)
            snmp_free_pdu(response);
        int clib = 0, snmperr = 0;
        char* text = nullptr;
        snmp_sess_error(s.handle, &clib, &snmperr, &text);
        std::free(text);
        // A failed exchange may leave the session unusable; start afresh next time.
        s.close();
        if (snmperr == SNMPERR_TOO_LONG)
            return SNMP_CLASS_INVALID_PDU;
        if (snmperr == SNMPERR_BAD_SENDTO)
            return SNMP_CLASS_TL_FAILED;
        return SNMP_CLASS_ERROR;
    }

    std::vector<Vb> answer;
    answer.reserve(1);
    for (netsnmp_variable_list* v = response->variables; v; v = v->next_variable) {
        answer.emplace_back(oid_of(v->name, v->name_length));
        Vb& vb = answer.back();
        int exception = 0;
        std::unique_ptr<SnmpSyntax> value = value_from_variable(v, exception);
        if (value)
            vb.set_value(std::move(value));
        else if (exception)
            vb.set_exception_status(exception);
        if (answer.size() >= PDU_MAX_VBS)
            break;
    }
    const int error_status = static_cast<int>(response->errstat);
    const int error_index = static_cast<int>(response->errindex);
    snmp_free_pdu(response);

    pdu.set_vblist(std::move(answer));
    pdu.set_error_status(error_status);
    pdu.set_error_index(error_index);
    return error_status;
}

const char* Snmp::error_msg(int status)
{
    switch (status) {
    case SNMP_CLASS_SUCCESS:
        return "SNMP++: Success";
    case SNMP_CLASS_ERROR:
        return "SNMP++: Operation failed";
    case SNMP_CLASS_RESOURCE_UNAVAIL:
        return "SNMP++: Resource unavailable";
    case SNMP_CLASS_INTERNAL_ERROR:
        return "SNMP++: Internal error";
    case SNMP_CLASS_UNSUPPORTED:
        return "SNMP++: Unsupported function";
    case SNMP_CLASS_TIMEOUT:
        return "SNMP++: SNMP request timed out";
    case SNMP_CLASS_ASYNC_RESPONSE:
        return "SNMP++: Received SNMP Response";
    case SNMP_CLASS_NOTIFICATION:
        return "SNMP++: Received SNMP Notification (trap or inform)";
    case SNMP_CLASS_SESSION_DESTROYED:
        return "SNMP++: Closing session with outstanding requests";
    case SNMP_CLASS_INVALID:
        return "SNMP++: Invalid object";
    case SNMP_CLASS_INVALID_PDU:
        return "SNMP++: Invalid Pdu";
    case SNMP_CLASS_INVALID_TARGET:
        return "SNMP++: Invalid Target";
    case SNMP_CLASS_INVALID_CALLBACK:
        return "SNMP++: Invalid (null) Callback Function";
    case SNMP_CLASS_INVALID_REQID:
        return "SNMP++: Invalid Request Id";
    case SNMP_CLASS_INVALID_NOTIFYID:
        return "SNMP++: Invalid Notification Id";
    case SNMP_CLASS_INVALID_OPERATION:
        return "SNMP++: SNMP Operation not supported on specified Target";
    case SNMP_CLASS_INVALID_OID:
        return "SNMP++: Invalid Object Identifier";
    case SNMP_CLASS_INVALID_ADDRESS:
        return "SNMP++: Invalid Address";
    case SNMP_CLASS_ERR_STATUS_SET:
        return "SNMP++: Agent indicates error in SNMP request";
    case SNMP_CLASS_TL_UNSUPPORTED:
        return "SNMP++: Transport is not supported";
    case SNMP_CLASS_TL_IN_USE:
        return "SNMP++: Transport is in use";
    case SNMP_CLASS_TL_FAILED:
        return "SNMP++: Transport operation failed";
    case SNMP_CLASS_SHUTDOWN:
        return "SNMP++: Blocked Mode Shutdown";
    case SNMP_ERROR_TOO_BIG:
        return "SNMP: Response PDU Too Big";
    case SNMP_ERROR_NO_SUCH_NAME:
        return "SNMP: Variable does not exist";
    case SNMP_ERROR_BAD_VALUE:
        return "SNMP: Cannot modify variable: Bad Value";
    case SNMP_ERROR_READ_ONLY:
        return "SNMP: Cannot modify object, Read Only";
    case SNMP_ERROR_GENERAL_VB_ERR:
        return "SNMP: Cannot perform operation, General Error";
    case SNMP_ERROR_NO_ACCESS:
        return "SNMP: Cannot access variable, No Access";
    case SNMP_ERROR_WRONG_TYPE:
        return "SNMP: Cannot create/modify variable, Wrong Type";
    case SNMP_ERROR_WRONG_LENGTH:
        return "SNMP: Cannot create/set variable, Wrong Length";
    case SNMP_ERROR_WRONG_ENCODING:
        return "SNMP: Cannot create/set variable, Wrong Encoding";
    case SNMP_ERROR_WRONG_VALUE:
        return "SNMP: Cannot create/set variable, Wrong Value";
    case SNMP_ERROR_NO_CREATION:
        return "SNMP: Cannot create variable, Creation Not Allowed";
    case SNMP_ERROR_INCONSIST_VAL:
        return "SNMP: Cannot create/set variable, Inconsistent Value";
    case SNMP_ERROR_RESOURCE_UNAVAIL:
        return "SNMP: Cannot create/set variable, Resource Unavailable";
    case SNMP_ERROR_COMITFAIL:
        return "SNMP: Cannot create/set variable, Commit Failed";
    case SNMP_ERROR_UNDO_FAIL:
        return "SNMP: Cannot create/set variable, Undo Failed";
    case SNMP_ERROR_AUTH_ERR:
        return "SNMP: Cannot perform operation, Authorization Error";
    case SNMP_ERROR_NOT_WRITEABLE:
        return "SNMP: Cannot create/set variable, Not Writable";
    case SNMP_ERROR_INCONSIS_NAME:
        return "SNMP: Cannot create variable, Inconsistent Name";
    default:
        return "Unknown error code";
    }
}

void vx_snmp_test::set_exchange_hook(exchange_hook h)
{
    std::lock_guard<std::mutex> guard(hook_lock);
    delete hook;
    hook = h ? new exchange_hook(std::move(h)) : nullptr;
    hook_set.store(hook != nullptr, std::memory_order_release);
}
