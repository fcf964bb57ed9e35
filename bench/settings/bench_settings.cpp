// Times what the settings window does while the user waits: Apply with every option changed (each
// value its own transaction in a real store file), and each tab's sample with every option of the tab
// on. Targets: Apply under 500 ms, each sample under 50 ms.
//
// Usage: pictavo-bench-settings <program folder holding ThumbnailSample.jpg> [iterations]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <vector>

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>

#include "settings/hive.h"
#include "settings/livesettings.h"
#include "settings/settingsform.h"
#include "settings/settingspreviews.h"

namespace {

using Clock = std::chrono::steady_clock;

// The process's CPU time (every thread, user and system), in ms: unlike the wall clock it hardly moves
// when other work shares the cores.
double cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Timings {
    std::vector<double> wallMs;
    double cpuMsPerRun = 0;
};

void report(const char* what, Timings timings)
{
    auto& ms = timings.wallMs;
    std::sort(ms.begin(), ms.end());
    std::printf("%-28s median %8.2f ms   worst %8.2f ms   cpu %8.2f ms/run   (%zu runs)\n", what, ms[ms.size() / 2],
        ms.back(), timings.cpuMsPerRun, ms.size());
}

Timings time(int iterations, const std::function<void(int)>& work)
{
    Timings timings;
    const double cpuBefore = cpuMs();
    for (int i = 0; i < iterations; ++i) {
        const auto start = Clock::now();
        work(i);
        timings.wallMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    timings.cpuMsPerRun = (cpuMs() - cpuBefore) / iterations;
    return timings;
}

// Every control given a value other than the one it holds, as a user editing every option would.
Settings::FormValues everythingChanged(Settings::FormValues values, int round)
{
    for (const QString& name : values.names()) {
        const QVariant v = values.value(name);
        if (name.startsWith(QLatin1String("chk")))
            values.set(name, (v.toInt() + 1 + round) % 2);
        else if (name.startsWith(QLatin1String("pic")))
            values.set(name, (v.toInt() + 0x010203 * (round + 1)) & 0xffffff);
        else if (name == QLatin1String("cboImageType") || name == QLatin1String("cboDrawStyle"))
            values.set(name, (v.toInt() + 1 + round) % 5);
        else if (name.endsWith(QLatin1String("Slider")))
            values.set(name, 1 + (v.toInt() + 7 + round) % 99);
        else if (name.startsWith(QLatin1String("txt")) && !name.endsWith(QLatin1String("Folder"))
            && !name.endsWith(QLatin1String("File")) && !name.endsWith(QLatin1String("Image"))
            && !name.endsWith(QLatin1String("Text")) && !name.endsWith(QLatin1String("IgnoreFiles")))
            values.set(name, QString::number(v.toString().toInt() + 1 + round));
        else
            values.set(name, QString(v.toString() + QString::number(round)));
    }
    return values;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <program folder> [iterations]\n", argv[0]);
        return 2;
    }
    const QString programFolder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + QStringLiteral("/");
    const int iterations = argc > 2 ? std::max(1, atoi(argv[2])) : 20;

    QTemporaryDir dir;
    Settings::Hive hive(dir.filePath(QStringLiteral("registry.db")));
    Settings::LiveSettings live = Settings::LoadSettings(hive, programFolder);
    Settings::SettingsForm form(live, hive, programFolder);
    const Settings::FormValues loaded = form.load();
    report("Apply, every option changed",
        time(iterations, [&](int round) { form.save(everythingChanged(loaded, round)); }));

    // Every option of each tab on, at the default thumbnail size.
    live = Settings::LoadSettings(hive, programFolder);
    live.ImageWidth = 120;
    live.ImageHeight = 90;
    live.WatermarkGray = 1;
    live.WatermarkBlackWhite = 1;
    live.WatermarkStyle = 3;
    live.WatermarkImage = programFolder + QStringLiteral("FrameEffectSlice.jpg");
    Settings::FormValues all = form.load();
    for (const QString& name : all.names()) {
        if (name.startsWith(QLatin1String("chkFilter")) || name.startsWith(QLatin1String("chk")))
            all.set(name, 1);
    }
    const Settings::SettingsPreviews previews(programFolder, programFolder, dir.path());
    report("thumbnail sample", time(iterations, [&](int) { (void)previews.thumbnailSample(live); }));
    report("watermark sample", time(iterations, [&](int) { (void)previews.watermarkSample(live); }));
    report("effects sample, all 17", time(iterations, [&](int) {
        (void)previews.effectsSample(form.effectFlags(all), form.effectParameters(all));
    }));
    report("filters sample, all 13", time(iterations, [&](int) {
        (void)previews.filterSample(form.filterFlags(all), live.ImageWidth, live.ImageHeight);
    }));
    return 0;
}
