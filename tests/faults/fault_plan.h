// The faults lumo_faults injects into the calls lumo makes, as its first argument names them.
#pragma once

#include <string>

// Parses a plan such as "openat:EMFILE:5:ahead,getdents64:short:1,delay:2000": each word a call
// and what happens to it, every so many calls, on the read-ahead's threads only ("ahead") or on
// all. What happens is an errno name (the call fails with it), "short" (a read or a listing
// returns part of what it could) or, for "delay", the microseconds each call waits first. And
// "swap:NAME": right after the first call that names NAME, NAME.new is renamed over it. Returns
// false on a word it does not know.
bool SetFaultPlan(const std::string& plan);
