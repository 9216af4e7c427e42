#include "launcher/game_target.h"

#include "game_target_values.h"

GameTarget BuildGameTarget() {
  return GameTarget{TOVEL_TARGET_PIPE_NAME, TOVEL_TARGET_EXECUTABLE_NAME, TOVEL_TARGET_GAME_ID, TOVEL_TARGET_GAME_NAME};
}
