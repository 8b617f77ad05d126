#include "flashkit/families/families.h"

#include "flashkit/families/alder.h"
#include "flashkit/families/alderamd.h"
#include "flashkit/families/birch.h"
#include "flashkit/families/birchamd.h"
#include "flashkit/families/cedar.h"
#include "flashkit/families/dogwood.h"
#include "flashkit/families/recognizers.h"

#include <mutex>

namespace update {

void register_families()
{
    static std::once_flag once;
    std::call_once(once, [] {
        register_family<alder_t>(&probe_alder, &alder_recognize);
        register_family<alderamd_t>(&probe_alderamd, &alderamd_recognize);
        register_family<birch_t>(&probe_birch, &birch_recognize);
        register_family<birchamd_t>(&probe_birchamd, &birchamd_recognize);
        register_family<cedar_t>(&probe_cedar, &cedar_recognize);
        register_family<dogwood_t>(&probe_dogwood, &dogwood_recognize);
    });
}

} // namespace update
