#include "app/view/TMinMax.h"

namespace kavrel {

TMinMax DirectMinMax(std::span<const std::int16_t> samples, std::size_t first,
                     std::size_t last) noexcept
{
    TMinMax r;
    for (std::size_t i = first; i <= last && i < samples.size(); ++i) {
        const std::int32_t s = samples[i];
        if (s < r.Min)
            r.Min = s;
        if (s > r.Max)
            r.Max = s;
    }
    return r;
}

} // namespace kavrel
