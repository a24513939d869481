#include "settings.h"

namespace tallywire {

settings current_settings;

}  // namespace tallywire
