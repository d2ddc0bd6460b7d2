#include "app/driver.h"
#include "engine/enginecontext.h"
#include "platform/appsystem.h"

int main(int argc, char **argv) {
    auto &system = salvora::platform::nativeAppSystem();
    salvora::EngineContext engine(salvora::platform::nativePlatform());
    salvora::AppContext app(engine, system);
    return salvora::runProgram(app, salvora::readCommandLine(system, argc, argv));
}
