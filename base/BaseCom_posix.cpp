// COM exists only on Windows; here the initialiser does nothing.
#include "BaseCom.h"

namespace base {

TComInitializer::TComInitializer(bool ole) : ole_(ole) { (void)ole_; }
TComInitializer::~TComInitializer() = default;

}  // namespace base
