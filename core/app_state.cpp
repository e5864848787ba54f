// The one instance of the program's state.
#include "core/app_state.h"

AppState app;

void app_state_reset()
{
    app = AppState{};
}
