// Constants of the upload challenge, shared by the game and the score server:
// the game answers a challenge c with (c + CHALLENGE_K) * CHALLENGE_M -
// CHALLENGE_D in 32-bit wrapping arithmetic. server/zephrant_server.py reads
// the three definitions below from this file at start, so keep each on one
// line in this form.
#pragma once

namespace zephrant {

constexpr int CHALLENGE_K = 418093;  // six decimal digits
constexpr int CHALLENGE_M = 7;       // one digit, not 0
constexpr int CHALLENGE_D = 53;      // two digits

}  // namespace zephrant
