#pragma once
// BnsCompMap: a B&S compensation map and the correction it gives.
//
// A map holds per-axis error tables sampled along X, Y, Z (and, unused by the correction,
// a rotary axis), read from "comp.dat" (text or binary) or from its enciphered form
// "comp.enc"; the formats are in docs/compensation-bns.md. The correction combines the
// looked-up values with the probe lever arm by formulas that depend on the machine type the
// map declares.
//
// Owned by BnsVolcomp and used on the host's UI thread; a map is a plain object without
// locks. Load reports failure by its result and keeps the reason in LastError(); a failed
// read leaves the map as it was (empty after construction), never half filled. Nothing
// throws.

#include <array>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "driver/volcomp/bns/BnsFormat.h"

class BnsCipher;

class BnsCompMap {
  public:
    // Load results.
    static constexpr int kLoaded = 1;
    static constexpr int kNotLoaded = 0;
    static constexpr int kEncipheredMissing = -3;

    // Correction modes.
    static constexpr int kFromMachine = 0;
    static constexpr int kToMachine = 1;
    static constexpr int kPassThrough = 2;

    // Axes of Start and Step.
    enum Axis { kX = 0, kY = 1, kZ = 2, kW = 3 };

    BnsCompMap();
    ~BnsCompMap();
    BnsCompMap(const BnsCompMap&) = delete;
    BnsCompMap& operator=(const BnsCompMap&) = delete;

    // The host's two switches: read "comp.enc" instead of the plain file, and fall back to
    // the plain file when "comp.enc" exists but cannot be read.
    void SetSources(bool readEnciphered, bool allowFallback);

    // Reads the map. fileName is the plain file ("comp.dat" when empty); "comp.enc" is
    // looked for in the same folder. Returns kLoaded, kNotLoaded when a file cannot be opened,
    // decrypted or read, or kEncipheredMissing when "comp.enc" is required and cannot be
    // opened (final even when the fallback is allowed).
    int Load(const std::wstring& fileName);

    // Reads a plain map from its bytes: text when the first line begins with a number,
    // otherwise binary doubles. True when read; else LastError() says why.
    bool ReadPlain(std::string_view bytes);
    // Reads an enciphered map from its bytes with the file key.
    bool ReadEnciphered(std::string_view bytes, const BnsCipher& fileKey);

    // The corrected point for position (x, y, z, w) and probe vector (Px, Py, Pz):
    // kFromMachine subtracts the errors, kToMachine adds them, kPassThrough (and any other
    // mode) copies the position. result[3] is always w. result may alias position.
    void Correct(int mode, const double position[4], const double probe[3], double result[4]) const;

    // The map data check: whether any of tables 0, 1, 3 to 7 and 9 to 11 holds a value
    // larger than 1e-6 in magnitude.
    bool HasData() const;

    // The value of a table with `points` points at `position` along an axis with start and
    // step: interpolated between the two neighbouring points; below the start at weight
    // 0.00001 from the first point; at or beyond the last point the second-to-last point's
    // value. A position that gives no index (NaN) counts as below the start. Magnitudes below
    // 1e-15 give 0. points must be at least 2 and table hold that many values.
    static double Lookup(std::span<const double> table, int points, double start, double step,
                         double position);

    bool IsLoaded() const { return loaded_; }
    // The file actually read ("comp.enc" or the plain name), once Load has run.
    const std::wstring& FileName() const { return fileName_; }
    // Why the last Load or Read failed (also why "comp.enc" failed before a fallback).
    const std::string& LastError() const { return lastError_; }

    int Flags() const;
    int Type() const;
    int Points() const;
    int RotaryPoints() const;
    bool HasRotaryData() const;
    double OptionValue() const;
    double Start(Axis axis) const;
    double Step(Axis axis) const;
    // The three header values no correction uses.
    std::array<double, bns::kHeaderExtraValues> HeaderValues() const;
    std::span<const double> Table(int index) const;
    std::span<const double> ExtraTable(int index) const;
    std::span<const double> RotaryTable(int index) const;

    struct Data;

  private:
    int LoadPlainFile(const std::wstring& name);
    int LoadEncipheredFile(const std::wstring& name);
    bool Commit(bool parsed, std::unique_ptr<Data> data, const std::string& error);

    std::unique_ptr<Data> data_;
    bool loaded_ = false;
    bool readEnciphered_ = false;
    bool allowFallback_ = false;
    std::wstring fileName_;
    std::string lastError_;
};
