#pragma once

#include "app/core/TSoundDocument.h"
#include "app/windows/ErrorReport.h"
#include "app/windows/TForm18.h"
#include "app/windows/TForm19.h"
#include "audio/testing/TFakeWaveOutDevice.h"
#include "sound/TWav.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace kavrel::test {

// A wave file written with the sound object: `channels` channels of `frames` frames, sample
// values from `value(channel, frame)`.
inline std::string WriteWave(const QString& path, int channels, std::int32_t rate,
                             std::int64_t frames,
                             const std::function<std::int16_t(int, std::int64_t)>& value)
{
    TWav wav;
    wav.SetSampleRate(rate);
    wav.SetChannels(channels);
    wav.SetLength(frames);
    for (int c = 0; c < channels; ++c)
        for (std::int64_t i = 0; i < frames; ++i)
            wav.SetSample(c, i, value(c, i));
    const std::string file = QFile::encodeName(path).toStdString();
    wav.WriteFile(file);
    return file;
}

inline std::int16_t Sine(int channel, std::int64_t frame)
{
    const double f = channel == 0 ? 440.0 : 110.0;
    return static_cast<std::int16_t>(
        std::lround(16000 * std::sin(2 * M_PI * f * static_cast<double>(frame) / 8000.0)));
}

// Both windows wired as the program starts them, on a test sound device; failures the windows
// report are collected instead of shown.
class WindowFixture : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        SetErrorSink([this](QWidget*, const QString& message) { m_errors << message; });
        // Each test starts from no stored settings and an empty recent list.
        std::filesystem::remove_all(ConfigFolder());
        Create();
    }

    void TearDown() override
    {
        Destroy();
        // A test that provokes a message takes it out of m_errors; anything left is a fault.
        EXPECT_TRUE(m_errors.isEmpty()) << m_errors.join('\n').toStdString();
        SetErrorSink({});
    }

    static std::filesystem::path ConfigFolder()
    {
        return std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "MorvaneData";
    }

    void Create()
    {
        auto device = std::make_unique<TFakeWaveOutDevice>();
        m_device = device.get();
        m_form18 = std::make_unique<TForm18>(std::move(device));
        m_form19 = std::make_unique<TForm19>();
        m_form18->SetForm19(m_form19.get());
    }

    void Destroy()
    {
        if (m_form18)
            m_form18->SetForm19(nullptr);
        m_form18.reset();
        m_form19.reset();
        m_device = nullptr;
    }

    // Shows the main window (its first activation reads the settings) and lets it lay out.
    void Show(int width = TForm18::ClientWidth, int height = 420)
    {
        m_form18->resize(width, height);
        m_form18->show();
        QApplication::processEvents();
    }

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    TSoundDocument& Doc() { return m_form18->Document(); }

    QTemporaryDir m_dir;
    QStringList m_errors;
    TFakeWaveOutDevice* m_device = nullptr;
    std::unique_ptr<TForm18> m_form18;
    std::unique_ptr<TForm19> m_form19;
};

} // namespace kavrel::test
