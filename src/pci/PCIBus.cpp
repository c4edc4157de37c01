#include "../platform/singletons.h"

namespace Tavex {
namespace detail {
void dropPCIBus() {}
}  // namespace detail
}  // namespace Tavex
