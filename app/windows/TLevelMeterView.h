#pragma once

#include "app/view/TLevelMeter.h"

#include <QWidget>

#include <cstdint>
#include <vector>

namespace kavrel {

// The level meters: one bar per channel from LowDb to 0 dBFS, the RMS filled, the peak as a
// thinner bar, the peak hold as a mark, the figures beside it and the count of overloaded values
// since Play. The owner hands it each reading.
class TLevelMeterView : public QWidget {
    Q_OBJECT
public:
    static constexpr double LowDb = -60.0;

    explicit TLevelMeterView(QWidget* parent = nullptr);

    void SetReadings(std::vector<TMeterReading> readings, std::int64_t overloads);
    const std::vector<TMeterReading>& Readings() const { return m_readings; }
    std::int64_t Overloads() const { return m_overloads; }
    // "Ch 0: peak -6.0 : RMS -9.0 : hold -6.0 dBFS" for a channel; "-inf" below LowDb·2.
    QString ChannelText(int channel) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<TMeterReading> m_readings;
    std::int64_t m_overloads = 0;
};

} // namespace kavrel
