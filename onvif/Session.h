// One ONVIF camera as a session and its services. The session holds what
// every request needs: the credentials, the camera's clock, the TLS pin and
// the two HTTP sessions (control and query). Each service holds its own
// address and the tokens the camera handed out, and asks over whichever
// connection its caller names. The requests themselves (OnvifClient.h) are
// the wire layer under them.
#pragma once

#include "onvif/OnvifClient.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace korvane::onvif {

class COnvifSession {
public:
    COnvifSession();

    // The device service address (also where the clock is read again when
    // the camera refuses a token) and the credentials; the clock is forgotten.
    void SetDevice(const std::string& deviceUrl, const std::string& user, const std::string& password);
    const std::string& DeviceUrl() const { return m_strDeviceUrl; }
    void SetTlsFingerprint(const std::string& fingerprint);

    COnvifConnection& Control() { return m_control; }
    COnvifConnection& Query() { return m_query; }
    const std::string& User() const { return m_strUser; }
    const std::string& Password() const { return m_strPassword; }

private:
    std::shared_ptr<CCameraClock> m_pClock;
    COnvifConnection m_control;
    COnvifConnection m_query;
    std::string m_strDeviceUrl;
    std::string m_strUser;
    std::string m_strPassword;
};

class CMediaService;
class CPtzService;
class CImagingService;

// The device service: the camera's clock and where its other services are.
class CDeviceService {
public:
    // The clock (once), then the media, PTZ and Imaging addresses. False
    // when the camera did not answer at all, or named no media service.
    static bool Discover(COnvifSession& session, COnvifConnection& over, CMediaService& media, CPtzService& ptz,
                         CImagingService& imaging);
};

// The media service (or the newer one): its profiles.
class CMediaService {
public:
    void Clear()
    {
        m_strUrl.clear();
        m_strUrl2.clear();
    }
    bool Found() const { return !m_strUrl.empty() || !m_strUrl2.empty(); }
    // Every profile in the camera's order, from the older service if there is one.
    bool Profiles(COnvifSession& session, COnvifConnection& over, std::vector<MediaProfile>& profiles) const;
    // The tokens, those with PTZ first (the connection test's request).
    void ProfileTokens(COnvifSession& session, COnvifConnection& over, std::vector<std::string>& tokens) const;
    bool HasOlder() const { return !m_strUrl.empty(); }

private:
    friend class CDeviceService;
    std::string m_strUrl;
    std::string m_strUrl2;  // the newer media service
};

// The PTZ service of one profile: its configuration's velocity spaces and
// the requests that move the camera. Results as the wire layer's (kOnvifOk).
class CPtzService {
public:
    void Clear()
    {
        m_strUrl.clear();
        m_strProfile.clear();
    }
    bool Found() const { return !m_strUrl.empty(); }
    bool Ready() const { return !m_strUrl.empty() && !m_strProfile.empty(); }
    // The profile to drive: its PTZ configuration and velocity spaces. The
    // configuration is asked for only when the profile does not name it.
    bool UseProfile(COnvifSession& session, COnvifConnection& over, const MediaProfile& profile);
    void Forget() { m_strProfile.clear(); }

    int Status(COnvifSession& session, COnvifConnection& over, PtzStatus& status) const;
    int Move(COnvifSession& session, COnvifConnection& over, float pan, float tilt, float zoom,
             std::chrono::milliseconds timeout) const;
    // Every axis.
    int Stop(COnvifSession& session, COnvifConnection& over) const;
    int GotoHome(COnvifSession& session, COnvifConnection& over, float pan, float tilt) const;
    int SetHome(COnvifSession& session, COnvifConnection& over) const;
    int Presets(COnvifSession& session, COnvifConnection& over, std::map<int, std::string>& presets) const;
    // token: the preset to update (empty: a new one); receives the camera's.
    int SetPreset(COnvifSession& session, COnvifConnection& over, const std::string& name, std::string& token) const;
    int RemovePreset(COnvifSession& session, COnvifConnection& over, const std::string& token) const;
    int GotoPreset(COnvifSession& session, COnvifConnection& over, const std::string& token, float pan,
                   float tilt) const;

private:
    friend class CDeviceService;
    std::string m_strUrl;
    std::string m_strProfile;
    VelocitySpaces m_velocity;
};

// The Imaging service of the profile's video source: focus. A camera
// without the service, or a profile without a video source, has no focus.
class CImagingService {
public:
    void Clear()
    {
        m_strUrl.clear();
        m_strSource.clear();
    }
    bool Ready() const { return !m_strUrl.empty() && !m_strSource.empty(); }
    void UseSource(const std::string& videoSource) { m_strSource = videoSource; }
    void Forget() { m_strSource.clear(); }
    // speed -1 (near) to 1 (far), continuous until Stop.
    int Focus(COnvifSession& session, COnvifConnection& over, float speed) const;
    int Stop(COnvifSession& session, COnvifConnection& over) const;

private:
    friend class CDeviceService;
    std::string m_strUrl;
    std::string m_strSource;
};

}  // namespace korvane::onvif
