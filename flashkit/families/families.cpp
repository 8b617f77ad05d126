#include "flashkit/families/families.h"

#include "flashkit/families/alder.h"
#include "flashkit/families/alderamd.h"
#include "flashkit/families/birch.h"
#include "flashkit/families/birchamd.h"
#include "flashkit/families/cedar.h"
#include "flashkit/families/dogwood.h"

#include <mutex>

namespace update {

void register_families()
{
    static std::once_flag once;
    std::call_once(once, [] {
        register_family<alder_t>(&probe_alder, &recognize_alder);
        register_family<alderamd_t>(&probe_alderamd, &recognize_alderamd);
        register_family<birch_t>(&probe_birch, &recognize_birch);
        register_family<birchamd_t>(&probe_birchamd, &recognize_birchamd);
        register_family<cedar_t>(&probe_cedar, &recognize_cedar);
        register_family<dogwood_t>(&probe_dogwood, &recognize_dogwood);
    });
}

} // namespace update
