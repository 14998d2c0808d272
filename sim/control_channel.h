#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/update_files.h"

namespace kel::sim {

class SimNetwork;
struct SimUnit;

/// Commands a stand-in for the external boot tool gives the simulator, one
/// per line ('#' starts a comment):
///
///   boot-loader COM<N> <version>r<release> [image=PATH]
///
/// turns the blank chip on port N into a unit running that boot loader, as
/// programming the chip through its ROM loader would: the records of the
/// image container PATH (boot-loader records, within the first 16 KiB of
/// flash) go into its flash, whose boot region is erased first, and the
/// unit comes up in its boot loader
/// (address 1, at 9600 or 115200 baud) with boot flag bit 0 set, since no
/// application software is in it yet. Relative paths start from `baseDir`.
///
///   power-cycle COM<N>
///
/// switches the units on port N off and on again (at tick `now`): each
/// restarts into its starting role, or its boot loader when its software
/// area holds none, with a running programmer gone; a unit whose boot
/// region holds no whole boot loader comes up as a blank chip.
///
///   plug COM<N>
///
/// puts back the cable of port N that an unplug fault pulled: the units,
/// which kept running meanwhile, are heard again.
///
/// The text comes from outside and is checked as such: at most 64 KiB and
/// 100 commands, every field validated. Returns one line per command, "ok
/// COM<N> boot-loader <v>r<r>" or "error: line N: <why>".
std::string RunControlCommands(const std::string& text, const std::map<int, SimNetwork*>& ports,
                               const std::string& baseDir, uint32_t now = 0);

/// The change itself: false (with the reason) unless `unit` is a blank chip
/// and every record lies in the boot-loader area of its flash.
bool InstallBootLoader(SimUnit& unit, uint8_t version, uint8_t release,
                       const std::vector<ImageRecord>& image, std::string& error);

}  // namespace kel::sim
