#pragma once
// "game:launch" and "game:stop": the checks, the Java choice, and the hand-over of one launch
// request to the game runner.
namespace lumivale {

class App;

void OnGameLaunch(App& app);
void OnGameStop(App& app);

}  // namespace lumivale
