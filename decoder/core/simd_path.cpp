#include "decoder/core/simd_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tesk::quor {
namespace {

bool processor_has_avx2_and_fma() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0;
#else
    return false;
#endif
}

SimdPath choose_simd_path() {
    const char* setting = std::getenv("TESK_QUOR_SIMD");
    if (setting != nullptr && std::strcmp(setting, "baseline") == 0) {
        return SimdPath::kBaseline;
    }
    if (setting != nullptr && *setting != '\0' && std::strcmp(setting, "auto") != 0) {
        std::fprintf(stderr,
                     "quor: TESK_QUOR_SIMD='%s' is neither 'baseline' nor 'auto'; using 'auto'\n",
                     setting);
    }
    return processor_has_avx2_and_fma() ? SimdPath::kAvx2 : SimdPath::kBaseline;
}

Precision choose_precision() {
    const char* setting = std::getenv("TESK_QUOR_PRECISION");
    if (setting != nullptr && std::strcmp(setting, "double") == 0) {
        return Precision::kDouble;
    }
    if (setting != nullptr && *setting != '\0' && std::strcmp(setting, "single") != 0) {
        std::fprintf(
            stderr,
            "quor: TESK_QUOR_PRECISION='%s' is neither 'single' nor 'double'; using 'single'\n",
            setting);
    }
    return Precision::kSingle;
}

} // namespace

SimdPath simd_path() {
    static const SimdPath path = choose_simd_path();
    return path;
}

const char* simd_path_name(SimdPath path) {
    return path == SimdPath::kAvx2 ? "avx2" : "baseline";
}

Precision precision() {
    static const Precision chosen = choose_precision();
    return chosen;
}

const char* precision_name(Precision precision) {
    return precision == Precision::kDouble ? "double" : "single";
}

} // namespace tesk::quor
