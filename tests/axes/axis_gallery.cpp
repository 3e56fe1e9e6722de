// Renders a few sample axes into PNG files, to look at them: axis_gallery [folder]
// (default /tmp/kavrel-shots). Not a test; the files are for people.
#include "axes/qt/TAxis.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>

#include <cstdio>
#include <memory>
#include <vector>

using kavrel::TAxis;
using kavrel::tposition;

namespace {

struct TSample {
    const char* name;
    std::unique_ptr<TAxis> axis;
};

std::unique_ptr<TAxis> Make(tposition position, int width, int height, double lo, double hi,
                            const char* text)
{
    auto axis = std::make_unique<TAxis>();
    axis->SetPosition(position);
    axis->resize(width, height);
    axis->SetRange(lo, hi);
    axis->SetAxisText(text);
    return axis;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString(argv[1]) : QString("/tmp/kavrel-shots");
    QDir().mkpath(folder);

    std::vector<TSample> samples;
    {
        auto a = Make(tposition::posleft, 43, 300, -1, 1, "");
        a->SetMarkerVisible(true);
        a->SetMarkerValue(0.3);
        samples.push_back({"vertical-linear-amplitude", std::move(a)});
    }
    {
        auto a = Make(tposition::posunder, 577, 24, 0, 1, "[s]");
        a->SetMarkerVisible(true);
        a->SetMarkerValue(0.42);
        samples.push_back({"horizontal-linear-time", std::move(a)});
    }
    {
        auto a = Make(tposition::posright, 50, 300, 20, 20000, "[Hz]");
        a->SetLogarithmic(true);
        a->SetMarkerVisible(true);
        a->SetMarkerValue(1000);
        samples.push_back({"vertical-log-right", std::move(a)});
    }
    {
        auto a = Make(tposition::posunder, 700, 24, 20, 20000, "[Hz]");
        a->SetLogarithmic(true);
        a->SetMarkerVisible(true);
        a->SetMarkerValue(440);
        samples.push_back({"horizontal-log", std::move(a)});
    }
    {
        auto a = Make(tposition::posover, 700, 24, 100, 2000, "");
        a->SetLogarithmic(true);
        a->SetMusicScale(true);
        a->SetMarkerVisible(true);
        a->SetMarkerValue(440);
        samples.push_back({"horizontal-music-over", std::move(a)});
    }
    {
        auto a = Make(tposition::posleft, 43, 300, 200, 900, "");
        a->SetLogarithmic(true);
        a->SetMusicScale(true);
        a->SetMarkerVisible(true);
        a->SetMarkerValue(261.6);
        samples.push_back({"vertical-music", std::move(a)});
    }
    {
        auto a = Make(tposition::posunder, 577, 24, 1, 3, "");
        a->SetLogarithmic(true);
        samples.push_back({"horizontal-log-small-ratio", std::move(a)});
    }

    QImage sheet(900, 1100, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int x = 10, y = 10, rowHeight = 0;
    for (auto& s : samples) {
        const QImage image = s.axis->grab().toImage();
        const QString path = folder + "/axis-" + s.name + ".png";
        image.save(path);
        image.scaled(image.size() * 3).save(folder + "/axis-" + s.name + "-x3.png");
        std::printf("%s\n", qPrintable(path));
        const int columnWidth = std::max(image.width(), 190);
        if (x + columnWidth > sheet.width() - 10) {
            x = 10;
            y += rowHeight + 24;
            rowHeight = 0;
        }
        painter.drawText(x, y + 10, s.name);
        painter.drawImage(x, y + 14, image);
        x += columnWidth + 20;
        rowHeight = std::max(rowHeight, image.height() + 14);
    }
    painter.end();
    kavrel::TAxisLimitForm form;
    form.SetAxisText("[s]");
    form.SetHighValue(1.5);
    form.SetLowValue(0);
    form.show();
    form.grab().save(folder + "/axis-limits-dialog.png");
    form.hide();

    const QString sheetPath = folder + "/axis-sheet.png";
    sheet.save(sheetPath);
    std::printf("%s\n", qPrintable(sheetPath));
    return 0;
}
