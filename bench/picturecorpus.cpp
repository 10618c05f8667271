#include "picturecorpus.h"

#include <QDirIterator>
#include <QImage>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <random>

namespace picturecorpus {

const char *const kFolders[] = {"/usr/share/backgrounds", "/usr/share/wallpapers",
                                "/usr/share/desktop-base", nullptr};
const char *const kPackages = "lomiri-wallpapers-20.04 ukui-wallpapers";

namespace {

constexpr int kWidth = 1024;

uint8_t clamped(double v)
{
    return uint8_t(std::min(255.0, std::max(0.0, std::round(v))));
}

} // namespace

Bytes wallpapers(const std::vector<const char *> &suffixes, size_t n)
{
    QStringList paths;
    for (int f = 0; kFolders[f]; ++f) {
        QDirIterator it(QString::fromLatin1(kFolders[f]), QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            for (const char *suffix : suffixes)
                if (path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
                    paths << path;
        }
    }
    paths.sort();
    std::vector<QImage> pictures;
    for (const QString &path : qAsConst(paths)) {
        QImage image(path);
        if (image.width() >= kWidth && image.height() >= 64)
            pictures.push_back(image.convertToFormat(QImage::Format_RGBA8888));
    }
    Bytes out;
    if (pictures.empty())
        return out;
    out.reserve(n);
    const size_t share = n / pictures.size() / (kWidth * 4) * (kWidth * 4);
    for (const QImage &picture : pictures) {
        const int rows = int(std::min<size_t>(share / (kWidth * 4), size_t(picture.height())));
        const int left = (picture.width() - kWidth) / 2, top = (picture.height() - rows) / 2;
        for (int y = top; y < top + rows; ++y) {
            const uint8_t *line = picture.constScanLine(y) + left * 4;
            out.insert(out.end(), line, line + kWidth * 4);
        }
    }
    return out;
}

Bytes fractalNoise(size_t n, uint64_t seed)
{
    std::mt19937_64 random(seed);
    const int height = int(n / (kWidth * 4)) + 1;
    // Octaves of a coarse random grid, bilinearly spread, halving in
    // amplitude as they double in frequency; each channel its own.
    std::vector<double> field(size_t(kWidth) * size_t(height) * 3, 128.0);
    double amplitude = 64;
    for (int cell = 256; cell >= 2; cell /= 2, amplitude /= 2) {
        const int gw = kWidth / cell + 2, gh = height / cell + 2;
        std::vector<double> grid(size_t(gw) * size_t(gh) * 3);
        std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
        for (double &g : grid)
            g = uniform(random);
        for (int y = 0; y < height; ++y) {
            const int gy = y / cell;
            const double fy = double(y % cell) / cell;
            for (int x = 0; x < kWidth; ++x) {
                const int gx = x / cell;
                const double fx = double(x % cell) / cell;
                for (int c = 0; c < 3; ++c) {
                    auto at = [&](int i, int j) {
                        return grid[(size_t(j) * gw + size_t(i)) * 3 + c];
                    };
                    const double top = at(gx, gy) * (1 - fx) + at(gx + 1, gy) * fx;
                    const double bottom = at(gx, gy + 1) * (1 - fx) + at(gx + 1, gy + 1) * fx;
                    field[(size_t(y) * kWidth + size_t(x)) * 3 + c] += top * (1 - fy) + bottom * fy;
                }
            }
        }
    }
    Bytes out(n);
    for (size_t i = 0; i < n / 4; ++i) {
        // A 3-pixel box blur along the row, as a soft brush leaves it.
        const size_t x = i % kWidth;
        for (int c = 0; c < 3; ++c) {
            const size_t left = x > 0 ? i - 1 : i, right = x + 1 < kWidth ? i + 1 : i;
            out[i * 4 + size_t(c)] =
                clamped((field[left * 3 + size_t(c)] + field[i * 3 + size_t(c)] +
                         field[right * 3 + size_t(c)]) /
                        3);
        }
        out[i * 4 + 3] = 255;
    }
    return out;
}

Bytes grainyGradients(size_t n, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> grain(0, 10);
    Bytes out(n);
    for (size_t i = 0; i < n / 4; ++i) {
        const double x = double(i % kWidth), y = double(i / kWidth % 768);
        const double base[3] = {40 + x * 0.18, 60 + y * 0.2, 200 - (x + y) * 0.08};
        for (int c = 0; c < 3; ++c)
            out[i * 4 + size_t(c)] = clamped(base[c] + grain(random));
        out[i * 4 + 3] = 255;
    }
    return out;
}

Bytes withNoise(const Bytes &picture, double sigma, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0, sigma);
    Bytes out(picture);
    for (size_t i = 0; i < out.size(); ++i) {
        if (i % 4 != 3)
            out[i] = clamped(out[i] + noise(random));
    }
    return out;
}

} // namespace picturecorpus
