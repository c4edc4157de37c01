// The platform of the running system, used when no other is installed.
#ifndef TAVEX_SRC_PLATFORM_NATIVE_NATIVEPLATFORM_H
#define TAVEX_SRC_PLATFORM_NATIVE_NATIVEPLATFORM_H

#include "tavex/platform/Platform.h"

namespace Tavex {
namespace detail {

Platform& nativePlatform();

}  // namespace detail
}  // namespace Tavex

#endif
