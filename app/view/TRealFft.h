#pragma once

// A forward FFT of real samples through FFTW: the one place the program calls it. The plan is
// made once, with FFTW_ESTIMATE (no timing runs), when the object is built; Transform then only
// computes.

#include <complex>
#include <span>

namespace kavrel {

class TRealFft {
public:
    // size: samples per transform, at least 2. Raises std::bad_alloc when FFTW has no memory.
    explicit TRealFft(int size);
    ~TRealFft();
    TRealFft(const TRealFft&) = delete;
    TRealFft& operator=(const TRealFft&) = delete;

    int Size() const noexcept { return m_size; }
    // The size samples to transform; written by the caller before Transform.
    std::span<double> Input() noexcept;
    // Computes bins 0 … Size()/2 of Input(), unscaled (a sine of amplitude A over the whole
    // window gives A·Size()/2 at its bin). Input() is kept.
    std::span<const std::complex<double>> Transform() noexcept;

private:
    int m_size;
    double* m_in = nullptr;
    void* m_out = nullptr; // fftw_complex[Size()/2 + 1]
    void* m_plan = nullptr;
};

} // namespace kavrel
