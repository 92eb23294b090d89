// The recording that test_recorder_kill kills: records a known signal from the virtual input device, at
// real time, into the file given, and says so on its standard output once the recording has started.
// It runs until it is killed, or for a minute at most, should the test that started it be gone.
//   recorder_child FILE STEP     (frame i holds ((i * STEP) mod 65536) - 32768, mono, 16 bits, 22050 Hz)
#include "devices/WaveRecorders.h"
#include "platform/io/ExceptionHandler.h"
#include "platform/sound/virtual/VirtualWaveIn.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE STEP\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string file = argv[1];
    const std::uint64_t step = std::strtoull(argv[2], nullptr, 10);
    // Anything that goes wrong ends the child at once: the test then finds no "started" line, or a
    // child that died before it was killed.
    SetApplicationExceptionHandler([](const std::exception& e) {
        std::fprintf(stderr, "recorder_child: %s\n", e.what());
        std::_Exit(1);
    });

    auto device = std::make_shared<VirtualWaveInBackend>();
    device->SetSignal([step](std::uint64_t frame, unsigned /*channel*/) {
        return static_cast<int>((frame * step) % 65536) - 32768;
    });
    SetCurrentWaveInBackend(device);

    TStockAudioRecorder recorder;
    // The recording window's format and buffer length. Two buffers more than it keeps in flight, so that
    // a child kept off the processor for a moment on a busy machine loses no sound: what the test checks
    // is the file a kill leaves, not the latency.
    recorder.SetPCMFormat(Mono16bit22050Hz);
    recorder.SetBufferLength(100);
    recorder.SetBufferCount(4);
    recorder.OnActivate = [](TWaveAudioIO*) {
        std::printf("enregistrement\n");
        std::fflush(stdout);
    };
    try {
        if (!recorder.RecordToFile(file))
            return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "recorder_child: %s\n", e.what());
        return 1;
    }
    device->RunInRealTime(1.0);
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}
