#pragma once
// VexStopwatch: measures seconds on the process clock (milliseconds since the process's
// first use of any stopwatch). The application starts it when the first request of a
// session arrives; nothing reads it yet. Single-threaded like the rest of the server.

class VexStopwatch {
  public:
    void Start();
    void Stop();
    bool IsRunning() const { return running_; }
    // Seconds between the last Start() and Stop().
    double Elapsed() const { return (stop_ - start_) / 1000.0; }
    // Seconds from the last Start() until now.
    double ElapsedSoFar() const;
    // Returns once the process clock has advanced by `seconds` from the call. Blocks the
    // calling thread (it sleeps in 1 ms steps while it waits).
    static void Delay(double seconds);

    // Milliseconds of the process clock.
    static int Now();

  private:
    bool running_ = false;
    int start_ = 0;
    int stop_ = 0;
};
