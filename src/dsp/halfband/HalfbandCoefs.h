#pragma once

// Coefficient sets of the half-band stages, one per stage size. The cascade
// puts the steepest (12) next to the base rate, where the transition band is
// narrowest relative to the stage's rate.
namespace halfband
{

template <int NC>
struct Coefs;

template <>
struct Coefs<12>
{
  static constexpr double kValues[12] = {
    0.036681502163648017, 0.13654762463195794, 0.27463175937945444,
    0.4231386174365671,   0.5610986978791953,  0.6775400499741618,
    0.769741833863227,    0.8398896248496389,  0.892260818003879,
    0.9315419599631839,   0.9620945483780842,  0.9878163707328959};
};

template <>
struct Coefs<4>
{
  static constexpr double kValues[4] = {
    0.04189399199765617, 0.168903482439952, 0.39056077292116603,
    0.7438957482684793};
};

template <>
struct Coefs<3>
{
  static constexpr double kValues[3] = {
    0.05574868081130205, 0.24305119574153072, 0.646699131192682};
};

template <>
struct Coefs<2>
{
  static constexpr double kValues[2] = {0.10717745346023573,
                                        0.5309143535450456};
};

} // namespace halfband
