#include "app/view/TRealFft.h"

#include <fftw3.h>

#include <algorithm>
#include <new>

namespace kavrel {

TRealFft::TRealFft(int size) : m_size(std::max(size, 2))
{
    const auto n = static_cast<std::size_t>(m_size);
    m_in = fftw_alloc_real(n);
    m_out = fftw_alloc_complex(n / 2 + 1);
    if (m_in == nullptr || m_out == nullptr) {
        fftw_free(m_in);
        fftw_free(m_out);
        throw std::bad_alloc();
    }
    std::fill_n(m_in, n, 0.0);
    // FFTW_ESTIMATE leaves the input alone while planning; the out-of-place real transform keeps
    // it afterwards too.
    m_plan = fftw_plan_dft_r2c_1d(m_size, m_in, static_cast<fftw_complex*>(m_out),
                                  FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    if (m_plan == nullptr) {
        fftw_free(m_in);
        fftw_free(m_out);
        throw std::bad_alloc();
    }
}

TRealFft::~TRealFft()
{
    fftw_destroy_plan(static_cast<fftw_plan>(m_plan));
    fftw_free(m_in);
    fftw_free(m_out);
}

std::span<double> TRealFft::Input() noexcept
{
    return {m_in, static_cast<std::size_t>(m_size)};
}

std::span<const std::complex<double>> TRealFft::Transform() noexcept
{
    fftw_execute(static_cast<fftw_plan>(m_plan));
    // fftw_complex is laid out as std::complex<double>, as FFTW's manual promises.
    return {reinterpret_cast<const std::complex<double>*>(m_out),
            static_cast<std::size_t>(m_size / 2 + 1)};
}

} // namespace kavrel
