#include "LibavSetup.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <mutex>

namespace capture {

void SetUpLibav()
{
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_max_alloc(kMaxLibavAllocation);
    });
}

} // namespace capture
