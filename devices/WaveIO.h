// The wave device core shared by output and input: buffer settings and headers, the hidden receiver
// through which a device's notifications reach the GUI thread, the user events, error reporting and
// the synchronous stop.
//
// Threads: backends push notifications into m_queue from their own threads; the receiver drains it on
// the GUI thread, where every other member is used.
#pragma once

#include "audio/WaveUtils.h"
#include "platform/sound/WaveDevice.h"

#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

class EWaveAudioError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class EWaveAudioSysError : public EWaveAudioError
{
public:
    using EWaveAudioError::EWaveAudioError;
};

class EWaveAudioInvalidOperation : public EWaveAudioError
{
public:
    using EWaveAudioError::EWaveAudioError;
};

class TWaveAudioIO;
using TWaveAudioEvent = std::function<void(TWaveAudioIO* sender)>;
using TWaveAudioLevelEvent = std::function<void(TWaveAudioIO* sender, int level)>;
using TWaveAudioDataEvent =
    std::function<void(TWaveAudioIO* sender, const std::uint8_t* buffer, std::uint32_t count)>;

// The hidden receiver: a posted event makes it drain its device's queue on the GUI thread.
class TCallbackWindow : public QObject
{
public:
    explicit TCallbackWindow(TWaveAudioIO& owner) : m_owner(owner) {}
    void Wake();

protected:
    void customEvent(QEvent* event) override;

private:
    TWaveAudioIO& m_owner;
    std::atomic<bool> m_posted{false};
};

class TWaveAudioIO
{
public:
    TWaveAudioIO();
    virtual ~TWaveAudioIO();
    TWaveAudioIO(const TWaveAudioIO&) = delete;
    TWaveAudioIO& operator=(const TWaveAudioIO&) = delete;

    bool Active() { return GetActive(); }
    virtual void SetActive(bool value);
    bool Paused() { return GetPaused(); }
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;

    std::uint16_t BufferLength() const { return m_bufferLength; }
    void SetBufferLength(std::uint16_t value);
    std::uint16_t BufferCount() const { return m_bufferCount; }
    void SetBufferCount(std::uint16_t value);

    int DeviceID() const { return m_deviceId; }
    MMRESULT LastError() const { return m_lastError; }
    std::string LastErrorText() { return GetErrorText(m_lastError); }
    int NumDevs() { return GetNumDevs(); }
    std::string DeviceName() { return GetDeviceName(); }
    std::set<TPCMFormat> DeviceFormats() { return GetDeviceFormats(); }
    std::uint32_t Position() { return GetPosition(); }

    virtual bool QueryFormat(const TWaveFormatEx& format) = 0;
    virtual bool QueryPCMFormat(TPCMFormat format);

    TWaveAudioEvent OnActivate, OnDeactivate, OnPause, OnResume, OnError;
    TWaveAudioLevelEvent OnLevel;
    TWaveAudioDataEvent OnData;

    // The device's notifications, drained by the receiver; WaitForClose reads them directly.
    NotificationQueue& CallbackQueue() { return *m_queue; }
    void DrainNotifications();

    // How long a stop waits for a device that stopped answering before taking it as closed.
    std::chrono::milliseconds CloseTimeout{10000};

    // The PCM formats a device's capability bits report: the four 8000 Hz ones always, 48000 Hz never.
    static std::set<TPCMFormat> FormatsFromCaps(std::uint32_t formatBits);
    static std::uint32_t ToFixed1616(double value);
    static double FromFixed1616(std::uint32_t value);

protected:
    virtual void WndProc(const DeviceNotification& message);
    virtual void DoWaveInOpen() {}
    virtual void DoWaveInClose() {}
    virtual void DoWaveInData(WAVEHDR* /*header*/) {}
    virtual void DoWaveOutOpen() {}
    virtual void DoWaveOutClose() {}
    virtual void DoWaveOutDone(WAVEHDR* /*header*/) {}
    virtual int GetNumDevs() = 0;
    virtual bool GetActive() = 0;
    virtual bool GetPaused() = 0;
    virtual std::string GetDeviceName() = 0;
    virtual std::set<TPCMFormat> GetDeviceFormats() = 0;
    virtual std::uint32_t GetPosition() = 0;
    virtual std::string GetErrorText(MMRESULT code) = 0;
    // The format to open with: a record of the subclass's own, or one it builds into storage.
    virtual const TWaveFormatEx* GetWaveFormat(WaveFormatBlock& storage) = 0;
    virtual MMRESULT ValidateDevice() = 0;
    virtual bool InternalOpen() = 0;
    virtual bool InternalClose() = 0;
    virtual void QueueBuffers() = 0;
    virtual void DoActivate();
    virtual void DoDeactivate();
    virtual void DoPause();
    virtual void DoResume();
    virtual void DoError();
    virtual void DoLevel(const std::uint8_t* buffer, std::uint32_t count);
    virtual void DoData(const std::uint8_t* buffer, std::uint32_t count);

    bool Success(MMRESULT code);
    int ActiveBufferCount() const { return static_cast<int>(m_buffers.size()); }
    std::uint32_t CalcBufferSize() const;
    bool ReallocateBuffer(WAVEHDR*& header, std::uint32_t size, std::uint8_t* buffer);
    std::uint32_t MMTimeToMs(const MMTIME& time) const;
    void WaitForClose();
    // Called first by the destructor of each concrete device: stops it while the object is whole.
    void Destroying();

    int m_deviceId = -1;
    MMRESULT m_lastError = MMSYSERR_NOERROR;
    std::uint16_t m_bufferLength = 1000;
    std::uint16_t m_bufferCount = 2;
    bool m_closing = false;
    bool m_destroying = false;
    bool m_draining = false;         // DrainNotifications is running
    TWaveFormatEx m_currentFormat{}; // the first 16 bytes matter
    std::vector<WAVEHDR*> m_buffers;

private:
    void releaseAllBuffers() noexcept;
    std::unique_ptr<NotificationQueue> newQueue();
    void abandonDevice();

    std::unique_ptr<NotificationQueue> m_queue;
    std::unique_ptr<TCallbackWindow> m_window;
};
