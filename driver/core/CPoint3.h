#pragma once
// CPoint3: a point or vector of three doubles x, y, z, in this order.
//
// Every position, hit, probe vector and compensation argument of the driver is a
// CPoint3. It is a plain value type: copy it freely, it owns nothing and has no
// thread affinity. A pointer to three doubles can stand in for it where the driver
// hands coordinates around as arrays; a null pointer means the origin.

#include <array>
#include <istream>
#include <ostream>

class CPoint3 {
  public:
    CPoint3() = default;
    CPoint3(double x, double y, double z) : c_{x, y, z} {}
    // Copies xyz[0..2]; a null pointer gives the origin.
    explicit CPoint3(const double* xyz) { *this = xyz; }

    CPoint3& operator=(const double* xyz) {
        if (xyz)
            c_ = {xyz[0], xyz[1], xyz[2]};
        else
            c_ = {0.0, 0.0, 0.0};
        return *this;
    }

    // The coordinates as an array of three (x, y, z).
    double* Array() { return c_.data(); }
    const double* Array() const { return c_.data(); }
    double& operator[](int i) { return c_[i]; }
    double operator[](int i) const { return c_[i]; }

    double& x() { return c_[0]; }
    double& y() { return c_[1]; }
    double& z() { return c_[2]; }
    double x() const { return c_[0]; }
    double y() const { return c_[1]; }
    double z() const { return c_[2]; }

    CPoint3 operator+(const CPoint3& o) const {
        return {c_[0] + o.c_[0], c_[1] + o.c_[1], c_[2] + o.c_[2]};
    }
    CPoint3 operator-(const CPoint3& o) const {
        return {c_[0] - o.c_[0], c_[1] - o.c_[1], c_[2] - o.c_[2]};
    }

    CPoint3& operator*=(double factor) {
        for (double& v : c_)
            v *= factor;
        return *this;
    }
    // Dividing by 0 gives the origin rather than infinities, so a missing unit or
    // scale never spreads NaN through the compensation.
    CPoint3& operator/=(double factor) {
        if (factor == 0.0) {
            c_ = {0.0, 0.0, 0.0};
            return *this;
        }
        for (double& v : c_)
            v /= factor;
        return *this;
    }

    bool operator==(const CPoint3&) const = default;

    // Writes x, y, z as three native doubles, the layout of the driver's stored points.
    void Store(std::ostream& out) const {
        out.write(reinterpret_cast<const char*>(c_.data()), sizeof(double) * 3);
    }
    // Reads what Store wrote. On a short read the stream's failbit is set and the
    // point keeps its old value.
    void Load(std::istream& in) {
        std::array<double, 3> read{};
        if (in.read(reinterpret_cast<char*>(read.data()), sizeof(double) * 3))
            c_ = read;
    }

  private:
    std::array<double, 3> c_{0.0, 0.0, 0.0};
};
