#include "service/music/MusicAnalyzer.h"

namespace ovra::music {

void AnalyzePacket(const CapturedPacket& packet, BandSpectrum& spectrum, MusicLevels& levels) {
    BandPeaks peaks;
    if (!spectrum.GetBandPeaks(packet.samples, packet.frames, packet.channels, &peaks)) return;
    levels.blue.store(peaks[0], std::memory_order_relaxed);
    levels.green.store(peaks[1], std::memory_order_relaxed);
    levels.red.store(peaks[2], std::memory_order_relaxed);
}

MusicAnalyzer::MusicAnalyzer(AudioLoopback& loopback, Notifier& notifier, DebugLog& console)
    : capture_(loopback, notifier, console) {
    capture_.SetPacketCallback([this](const CapturedPacket& packet) { AnalyzePacket(packet, spectrum_, levels_); });
}

MusicAnalyzer::~MusicAnalyzer() {
    Shutdown();
}

void MusicAnalyzer::Shutdown() {
    if (running_.exchange(0) == 1) capture_.StopCapture();
}

}  // namespace ovra::music
