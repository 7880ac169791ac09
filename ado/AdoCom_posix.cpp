// COM exists only on Windows; here the initialiser does nothing.
#include "Ado.h"

namespace ado {

ComInitializer::ComInitializer(bool ole) : ole_(ole) {}
ComInitializer::~ComInitializer() = default;

}  // namespace ado
