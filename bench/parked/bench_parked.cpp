// Adds N pages (100,000 unless told) to one Batch::ParkedLooks in four shapes of run and prints the CPU
// time of an add (mean, and the slowest 1,000th) and the heap bytes a page costs.
//   pictavo-bench-parked [N] [shape]     shapes: unique, onesite, parking, mixed (all unless told)
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include <malloc.h>

#include <QString>

#include "batch/parkedlooks.h"
#include "imaging/lookhash.h"

namespace {

using Look = Imaging::LookHash;

// A look with about an eighth of its bits set, as a page with text and a few blocks has; two such looks
// are about 112 bits apart.
Look randomLook(std::mt19937_64& random)
{
    Look look;
    for (auto& word : look.words)
        word = random() & random() & random();
    return look;
}

// The same template with other text in its few places for text (a heading, a price): `bits` of the 48
// bits those places cover flipped, so two pages of the template are at most twice that apart.
Look near(const Look& base, int bits, std::mt19937_64& random)
{
    Look look = base;
    const quint64 places = base.words[0] ^ base.words[7];
    for (int i = 0; i < bits; ++i) {
        const auto bit = (places >> (6 * (random() % 8)) & 63) * 8 + random() % 6;
        look.words[bit / 64] ^= quint64(1) << (bit % 64);
    }
    return look;
}

// Allocated bytes, large blocks (which glibc maps apart) included.
size_t heapBytes()
{
    const auto info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

double cpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Page {
    QString domain;
    Look look;
};

void run(const char* name, int count, const std::function<Page(int)>& page)
{
    std::vector<Page> pages;
    pages.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        pages.push_back(page(i));
    std::vector<double> times(static_cast<size_t>(count));
    qsizetype parked = 0;
    const size_t heapBefore = heapBytes();
    {
        Batch::ParkedLooks looks;
        for (int i = 0; i < count; ++i) {
            const double start = cpuMs();
            parked += looks.add(i, pages[size_t(i)].domain, pages[size_t(i)].look).size();
            times[size_t(i)] = cpuMs() - start;
        }
        const double heap = double(heapBytes() - heapBefore);
        double total = 0;
        for (double t : times)
            total += t;
        std::vector<double> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        double late = 0;
        for (size_t i = size_t(count) - size_t(count) / 10; i < size_t(count); ++i)
            late += times[i];
        std::printf("%-8s %7d adds  %6lld parked  mean %.4f ms  last tenth %.4f ms  slowest 1/1000 %.3f ms  "
                    "total %.1f s CPU  %.0f bytes a page\n",
            name, count, qlonglong(parked), total / count, late / (count / 10), sorted[size_t(count) - 1 - size_t(count) / 1000],
            total / 1e3, heap / count);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    std::mt19937_64 random(7);
    const Look parking = randomLook(random);
    std::vector<Look> sites;
    for (int i = 0; i < 50; ++i)
        sites.push_back(randomLook(random));

    if (only.isEmpty() || only == u"unique")
        run("unique", count, [&](int i) { return Page { QStringLiteral("site%1.com").arg(i), randomLook(random) }; });
    if (only.isEmpty() || only == u"onesite")
        run("onesite", count, [&](int) { return Page { QStringLiteral("big-site.com"), near(sites[0], 12, random) }; });
    if (only.isEmpty() || only == u"parking")
        run("parking", count, [&](int i) { return Page { QStringLiteral("parked%1.com").arg(i), near(parking, 12, random) }; });
    if (only.isEmpty() || only == u"mixed")
        run("mixed", count, [&](int i) {
            if (i % 10 == 9)
                return Page { QStringLiteral("parked%1.com").arg(i), near(parking, 12, random) };
            return Page { QStringLiteral("site%1.com").arg(i % 50), near(sites[size_t(i % 50)], 12, random) };
        });
    return 0;
}
