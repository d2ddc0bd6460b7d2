#include "app/driver.h"
#include "engine/enginecontext.h"
#include "platform/appsystem.h"

#ifdef _WIN32
#include "gui/mainwindow.h"
#endif

int main(int argc, char **argv) {
    auto &system = salvora::platform::nativeAppSystem();
    salvora::EngineContext engine(salvora::platform::nativePlatform());
    salvora::AppContext app(engine, system);
#ifdef _WIN32
    app.mainWindow = salvora::gui::showMainWindow;
#endif
    return salvora::runProgram(app, salvora::readCommandLine(system, argc, argv));
}
