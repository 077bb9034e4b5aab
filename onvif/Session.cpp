#include "onvif/Session.h"

namespace korvane::onvif {

COnvifSession::COnvifSession()
    : m_pClock(std::make_shared<CCameraClock>()), m_control(m_pClock), m_query(m_pClock)
{
}

void COnvifSession::SetDevice(const std::string& deviceUrl, const std::string& user, const std::string& password)
{
    m_strDeviceUrl = deviceUrl;
    m_strUser = user;
    m_strPassword = password;
    m_control.SetClockSource(deviceUrl);
    m_query.SetClockSource(deviceUrl);
    m_pClock->Forget();
}

void COnvifSession::SetTlsFingerprint(const std::string& fingerprint)
{
    m_control.SetTlsFingerprint(fingerprint);
    m_query.SetTlsFingerprint(fingerprint);
}

bool CDeviceService::Discover(COnvifSession& session, COnvifConnection& over, CMediaService& media, CPtzService& ptz,
                              CImagingService& imaging)
{
    // A camera that does not answer at all costs one time-out, not three.
    if (!over.LearnCameraClock(session.DeviceUrl())) return false;
    Onvif_device_geturls(over, session.DeviceUrl(), session.User(), session.Password(), media.m_strUrl, ptz.m_strUrl,
                         &media.m_strUrl2, &imaging.m_strUrl);
    return !media.m_strUrl.empty();
}

bool CMediaService::Profiles(COnvifSession& session, COnvifConnection& over, std::vector<MediaProfile>& profiles) const
{
    if (!m_strUrl.empty())
        return Onvif_media_get_profile_list(over, m_strUrl, session.User(), session.Password(), profiles);
    return Onvif_media2_get_profiles(over, m_strUrl2, session.User(), session.Password(), profiles);
}

void CMediaService::ProfileTokens(COnvifSession& session, COnvifConnection& over, std::vector<std::string>& tokens) const
{
    Onvif_media_get_profiles(over, m_strUrl, session.User(), session.Password(), tokens);
}

bool CPtzService::UseProfile(COnvifSession& session, COnvifConnection& over, const MediaProfile& profile)
{
    m_strProfile.clear();
    // A profile that names its configuration needs no request for it.
    std::string configuration = profile.ptzConfiguration;
    if (configuration.empty() &&
        (Onvif_ptz_getConfigurations(over, m_strUrl, session.User(), session.Password(), profile.token,
                                     configuration) != kOnvifOk ||
         configuration.empty()))
        return false;
    if (Onvif_ptz_getConfigurationOptions(over, m_strUrl, session.User(), session.Password(), profile.token,
                                          configuration, &m_velocity) != kOnvifOk)
        return false;
    m_strProfile = profile.token;
    return true;
}

int CPtzService::Status(COnvifSession& session, COnvifConnection& over, PtzStatus& status) const
{
    return Onvif_ptz_getStatus(over, m_strUrl, session.User(), session.Password(), m_strProfile, status);
}

int CPtzService::Move(COnvifSession& session, COnvifConnection& over, float pan, float tilt, float zoom,
                      std::chrono::milliseconds timeout) const
{
    return Onvif_ptz_continuousMove(over, m_strUrl, session.User(), session.Password(), m_strProfile, pan, tilt, zoom,
                                    &m_velocity, timeout);
}

int CPtzService::Stop(COnvifSession& session, COnvifConnection& over) const
{
    return Onvif_ptz_cameraStop(over, m_strUrl, session.User(), session.Password(), m_strProfile, true, true);
}

int CPtzService::GotoHome(COnvifSession& session, COnvifConnection& over, float pan, float tilt) const
{
    return Onvif_ptz_gotoHome(over, m_strUrl, session.User(), session.Password(), m_strProfile, pan, tilt, 0.0f);
}

int CPtzService::SetHome(COnvifSession& session, COnvifConnection& over) const
{
    return Onvif_ptz_setHome(over, m_strUrl, session.User(), session.Password(), m_strProfile);
}

int CPtzService::Presets(COnvifSession& session, COnvifConnection& over, std::map<int, std::string>& presets) const
{
    return Onvif_ptz_getPreset(over, m_strUrl, session.User(), session.Password(), m_strProfile, presets);
}

int CPtzService::SetPreset(COnvifSession& session, COnvifConnection& over, const std::string& name,
                           std::string& token) const
{
    return Onvif_ptz_setPreset(over, m_strUrl, session.User(), session.Password(), m_strProfile, name, token);
}

int CPtzService::RemovePreset(COnvifSession& session, COnvifConnection& over, const std::string& token) const
{
    return Onvif_ptz_removePreset(over, m_strUrl, session.User(), session.Password(), m_strProfile, token);
}

int CPtzService::GotoPreset(COnvifSession& session, COnvifConnection& over, const std::string& token, float pan,
                            float tilt) const
{
    return Onvif_ptz_gotoPreset(over, m_strUrl, session.User(), session.Password(), m_strProfile, token, pan, tilt,
                                0.0f);
}

int CImagingService::Focus(COnvifSession& session, COnvifConnection& over, float speed) const
{
    return Onvif_imaging_focusMove(over, m_strUrl, session.User(), session.Password(), m_strSource, speed);
}

int CImagingService::Stop(COnvifSession& session, COnvifConnection& over) const
{
    return Onvif_imaging_stop(over, m_strUrl, session.User(), session.Password(), m_strSource);
}

}  // namespace korvane::onvif
