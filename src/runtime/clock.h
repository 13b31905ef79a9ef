// Where the seam's time comes from. The system clock is the default; a program (or a
// test) may put another clock in its place, for example one that only moves when told
// so that long waits run in no time and exactly.
#pragma once

namespace runtime {

class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds since an arbitrary start.
    virtual double now() = 0;
    virtual void sleep(int milliseconds) = 0;
    // True for a clock that moves only when told: the event pump then never blocks, and
    // each pump moves the clock by one step().
    virtual bool stepped() const { return false; }
    virtual void step() {}
    // An in-process peer delivers next at `due` (infinity if nothing is due): lets time
    // pass towards it, never past `deadline`. False when nothing can arrive by then.
    virtual bool waitForPeer(double due, double deadline) = 0;
    // Called at the end of every event pump with the time then.
    virtual void pumped(double /*now*/) {}
};

// The clock in use; the system clock until another one is installed.
Clock& CurrentClock();
// The system clock (monotonic, started with the engine).
Clock& SystemClock();
// Puts `clock` in place (it must outlive its use); null restores the system clock.
void InstallClock(Clock* clock);

} // namespace runtime
