#include "py_chain.h"

namespace vardex::py {

}  // namespace vardex::py
