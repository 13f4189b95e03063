#include "base/flags.h"

namespace zelk {

Flag stopFlag{0};

Flag F_DEBUG{0};
Flag F_U1F{0};
Flag F_LOG{0};

}  // namespace zelk
