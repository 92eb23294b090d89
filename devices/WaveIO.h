// The wave device core shared by output and input: buffer settings and headers, the hidden receiver
// through which a device's notifications reach the GUI thread, the user events, error reporting and
// the synchronous stop.
//
// Threads: backends push notifications into m_queue from their own threads; the receiver drains it on
// the GUI thread, where every other member is used.
#pragma once

#include "audio/WaveUtils.h"
#include "platform/sound/WaveDevice.h"
#include "platform/sound/WaveService.h"

#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
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

// Clears a flag when its scope is left, however it is left.
struct ClearOnExit
{
    bool& flag;
    ~ClearOnExit() { flag = false; }
};

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

// The calls of one direction's wave service (output or input) that both directions make the same way,
// given in this order.
template <typename Handle, typename Caps> struct TWaveServiceCalls
{
    unsigned (*getNumDevs)();
    MMRESULT (*getDevCaps)(int deviceId, Caps& caps);
    // With WAVE_FORMAT_QUERY only asks; otherwise opens.
    using OpenCall = MMRESULT (*)(Handle* handle, int deviceId, const TWaveFormatEx* format,
                                  NotificationQueue* callback, std::uint32_t flags);
    OpenCall open;
    MMRESULT (*close)(Handle handle);
    MMRESULT (*prepareHeader)(Handle handle, WAVEHDR* header);
    MMRESULT (*unprepareHeader)(Handle handle, WAVEHDR* header);
    MMRESULT (*send)(Handle handle, WAVEHDR* header); // hands a buffer to the device
    MMRESULT (*reset)(Handle handle);
    MMRESULT (*pause)(Handle handle);
    MMRESULT (*resume)(Handle handle);
    MMRESULT (*getPosition)(Handle handle, MMTIME& time);
    MMRESULT (*getErrorText)(MMRESULT code, std::string& text);
    std::uint32_t openFlags;
};

// An open device of one direction: its handle, device information, pause, open and close, and the
// sending of buffers. What a direction does with the buffers (play them, record into them) is its own.
template <typename Handle, typename Caps, const TWaveServiceCalls<Handle, Caps>& Calls>
class TWaveAudioDevice : public TWaveAudioIO
{
public:
    bool Pause() override { return changePaused(true, Calls.pause); }
    bool Resume() override { return changePaused(false, Calls.resume); }
    bool QueryFormat(const TWaveFormatEx& format) override
    {
        return Calls.open(nullptr, m_deviceId, &format, nullptr, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
    }

protected:
    int GetNumDevs() override { return static_cast<int>(Calls.getNumDevs()); }
    bool GetActive() override { return m_handle != 0; }
    bool GetPaused() override { return m_paused; }

    std::string GetDeviceName() override
    {
        Caps caps;
        return Calls.getDevCaps(m_deviceId, caps) == MMSYSERR_NOERROR ? caps.szPname : std::string();
    }

    std::set<TPCMFormat> GetDeviceFormats() override
    {
        Caps caps;
        return Calls.getDevCaps(m_deviceId, caps) == MMSYSERR_NOERROR ? FormatsFromCaps(caps.dwFormats)
                                                                      : std::set<TPCMFormat>();
    }

    std::uint32_t GetPosition() override
    {
        if (!GetActive())
            return 0;
        MMTIME time;
        time.wType = MMTIME::Ms;
        return Success(Calls.getPosition(m_handle, time)) ? MMTimeToMs(time) : 0;
    }

    std::string GetErrorText(MMRESULT code) override
    {
        std::string text;
        return Calls.getErrorText(code, text) == MMSYSERR_NOERROR ? text : std::string();
    }

    MMRESULT ValidateDevice() override
    {
        Caps caps;
        return Calls.getDevCaps(m_deviceId, caps);
    }

    bool InternalOpen() override
    {
        if (GetActive()) {
            if (m_closing)
                return false;
            throw EWaveAudioInvalidOperation("Device is aleardy open");
        }
        WaveFormatBlock storage;
        const TWaveFormatEx* format = GetWaveFormat(storage);
        if (!Success(Calls.open(nullptr, m_deviceId, format, nullptr, WAVE_FORMAT_QUERY)))
            return false;
        std::memcpy(&m_currentFormat, format, 16);
        m_currentFormat.cbSize = 0;
        // A record whose byte rate gives no buffer at all cannot be played or recorded, whatever the device
        // says.
        if (CalcBufferSize() == 0)
            return Success(WAVERR_BADFORMAT);
        m_closeRequested = false;
        m_failedWith = MMSYSERR_NOERROR;
        return Success(Calls.open(&m_handle, m_deviceId, format, &CallbackQueue(), Calls.openFlags));
    }

    // The device has confirmed its close (or was taken as closed).
    virtual void DeviceClosed()
    {
        m_handle = 0;
        if (m_failedWith != MMSYSERR_NOERROR)
            m_lastError = std::exchange(m_failedWith, MMSYSERR_NOERROR);
        DoDeactivate();
    }

    // Starts a stop unless busy says one is under way; a device that is not open cannot be stopped.
    bool BeginClose(bool busy)
    {
        if (busy)
            return false;
        if (!GetActive())
            throw EWaveAudioInvalidOperation("Device is aleardy close");
        m_closing = true;
        return true;
    }

    // Has the device give back every buffer it holds, or close at once when it holds none, then waits
    // for its close.
    bool CloseAndWait()
    {
        bool result = true;
        if (ActiveBufferCount() > 0)
            result = Success(Calls.reset(m_handle));
        else if (!m_closeRequested)
            result = requestClose();
        std::this_thread::yield();
        if (result)
            WaitForClose();
        return result;
    }

    // A closing device is closed once the last buffer is back.
    void CloseWhenEmpty()
    {
        if (m_closing && ActiveBufferCount() == 0 && GetActive() && !m_closeRequested)
            requestClose();
    }

    // Takes a buffer away from the device for good.
    void DropBuffer(WAVEHDR*& header)
    {
        if ((header->dwFlags & WHDR_PREPARED) && GetActive())
            Calls.unprepareHeader(m_handle, header);
        ReallocateBuffer(header, 0, nullptr);
    }

    // Prepares the header when it is not yet, runs beforeSend and hands it to the device. A header
    // prepared here is unprepared again when the device does not take it.
    template <typename BeforeSend> bool SendBuffer(WAVEHDR* header, BeforeSend beforeSend)
    {
        bool preparedHere = false;
        if (!(header->dwFlags & WHDR_PREPARED)) {
            if (!Success(Calls.prepareHeader(m_handle, header)))
                return false;
            preparedHere = true;
        }
        try {
            beforeSend();
            if (Success(Calls.send(m_handle, header)))
                return true;
        } catch (...) {
            if (preparedHere)
                Calls.unprepareHeader(m_handle, header);
            throw;
        }
        if (preparedHere)
            Calls.unprepareHeader(m_handle, header);
        return false;
    }

    // An explicit block outside the buffer cycle, sent by send; freeIt gives the block to the device.
    template <typename Send>
    bool SendBlock(std::uint8_t* buffer, std::uint32_t size, bool freeIt, std::uint32_t loops, Send send)
    {
        // An empty block has nothing to send and gets no header: refused, the buffer stays the caller's.
        WAVEHDR* header = nullptr;
        if (size == 0 || !ReallocateBuffer(header, size, buffer) || !header)
            return false;
        if (freeIt)
            header->dwUser = reinterpret_cast<std::uintptr_t>(this);
        SetLoops(header, loops);
        try {
            if (send(header))
                return true;
        } catch (...) {
            ReallocateBuffer(header, 0, nullptr);
            throw;
        }
        ReallocateBuffer(header, 0, nullptr);
        return false;
    }

    static void SetLoops(WAVEHDR* header, std::uint32_t loops)
    {
        if (loops != 0) {
            header->dwFlags = WHDR_BEGINLOOP;
            header->dwLoops = loops;
        }
    }

    Handle m_handle = 0;
    bool m_paused = false;
    // The close has been asked of the device: it must not be asked again.
    bool m_closeRequested = false;
    // The error that ended the session when the device failed: LastError again once it has closed.
    MMRESULT m_failedWith = MMSYSERR_NOERROR;

private:
    bool requestClose()
    {
        m_closeRequested = true;
        return Success(Calls.close(m_handle));
    }

    bool changePaused(bool paused, MMRESULT (*call)(Handle))
    {
        if (m_paused == paused || (GetActive() && !Success(call(m_handle))))
            return false;
        m_paused = paused;
        if (paused)
            DoPause();
        else
            DoResume();
        return true;
    }
};
