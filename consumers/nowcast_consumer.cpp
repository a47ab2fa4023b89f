// An outside C++ program on the installed libnowcast: the global motion of a blob moved by
// (2, -1) pixels between two images.
#include <cmath>
#include <iostream>

#include <nowcast/nowcast.h>

namespace {

azm::Grid<double> blobImage(int size, double centre_x, double centre_y) {
    azm::Grid<double> image(size, size);
    for (int cy = 0; cy < size; ++cy) {
        for (int cx = 0; cx < size; ++cx) {
            const double r2 = (cx - centre_x) * (cx - centre_x) + (cy - centre_y) * (cy - centre_y);
            const double value = 50.0 * std::exp(-r2 / 18.0) + 20.0 * std::exp(-r2 / 60.0);
            image.set(cx, cy, value < 5.0 ? 0.0 : value);
        }
    }
    return image;
}

}  // namespace

int main() {
    azm::TrecConf conf;
    conf.adjustParametersForNexradII(10);
    conf.m_speed_limit = 4;
    azm::TrecAlgorithm algorithm(40, 40, conf);
    const bool ran = algorithm.runGlobal(blobImage(40, 18.0, 21.0), blobImage(40, 20.0, 20.0));
    const bool ok =
        ran && algorithm.getGlobalVectorX() == 2.0 && algorithm.getGlobalVectorY() == -1.0;
    std::cout << "nowcast consumer: global motion (" << algorithm.getGlobalVectorX() << ", "
              << algorithm.getGlobalVectorY() << ") " << (ok ? "ok" : "FAILED") << "\n";
    return ok ? 0 : 1;
}
