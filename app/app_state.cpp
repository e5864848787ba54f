// The one instance of the program's state.
#include "app/app_state.h"

AppState app;

void app_state_reset()
{
    app = AppState{};
}
