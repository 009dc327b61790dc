// The interface of URI objects. The URI errors keep the URI they concern and
// quote its text form, which is what toString answers for a URI.
#pragma once

#include "zelm/Object.h"

namespace zelm {

class IURI : public virtual IBase {};

} // namespace zelm
