// quorvanel-render: plays an event script into a patch offline and writes
// the very samples the live program would have sent to ALSA, as a WAV file.
//   quorvanel-render [-p PATCH] [-n SECONDS] SCRIPT OUT.wav
// See RenderTool for the command line and EventScript for the script.
#include "engine/LaceyBanks.h"
#include "render/RenderTool.h"

namespace {
AbstractChubEngine* makeEngine() { return new LaceyBanks(); }
void releaseEngine(AbstractChubEngine* engine) { delete static_cast<LaceyBanks*>(engine); }
}  // namespace

int main(int argc, char** argv) { return RenderTool::run(argc, argv, makeEngine, releaseEngine); }
