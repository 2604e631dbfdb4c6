// PhysTime: simulation time as a whole number of seconds and a fraction, so
// that long sessions keep sub-millisecond resolution in single precision.
#pragma once
#include <cstdint>

struct PhysTime {
  int32_t whole;   // whole seconds
  float fraction;  // [0, 1) normally; any finite value is accepted
};

inline double PhysTime_ToSeconds(PhysTime t) { return double(t.whole) + double(t.fraction); }
inline PhysTime PhysTime_FromSeconds(double s) {
  int32_t w = int32_t(s);
  return PhysTime{w, float(s - double(w))};
}
