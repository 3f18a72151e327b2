// The main of the benchmarks of real windows: the application set up as the program sets it up,
// on Qt's offscreen platform unless another is named.
#include "Quorvane/Views/Design/FocusKeeper.h"
#include "Quorvane/Views/Design/QuorStyle.h"

#include <QApplication>

#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    quorvane::QuorStyle::apply(application);
    quorvane::FocusKeeper::install(application);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
