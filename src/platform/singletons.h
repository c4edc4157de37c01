// Process-wide singletons that a platform change must drop.
#ifndef TAVEX_SRC_PLATFORM_SINGLETONS_H
#define TAVEX_SRC_PLATFORM_SINGLETONS_H

namespace Tavex {
namespace detail {

void dropPCIBus();

}  // namespace detail
}  // namespace Tavex

#endif
