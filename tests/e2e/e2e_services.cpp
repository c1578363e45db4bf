#include "e2e_services.h"

E2eServiceHost::E2eServiceHost()
    : m_relay(std::make_unique<velmor::fakes::FakeRelay>(velmor::fakes::FakeRelay::Options{true})),
      m_relayGroups(std::make_unique<velmor::fakes::FakeRelayGroups>(*m_relay)),
      m_center(std::make_unique<velmor::fakes::FakeGroupCenter>())
{
    m_relayGroups->setKnowsSignedInUsers(true);
}

E2eServiceHost::~E2eServiceHost()
{
    // The centre owns the group servers it created; the relay's routes use
    // the group paths: stop before anything goes.
    m_center->stop();
    m_relay->stop();
}

bool E2eServiceHost::start()
{
    if (m_relay->start() == 0) {
        m_error = QStringLiteral("the relay could not listen");
        return false;
    }
    if (m_center->start() == 0) {
        m_error = QStringLiteral("the group centre could not listen");
        return false;
    }
    m_center->addCreationKey(QString::fromLatin1(kStandardKey), QStringLiteral("standard"));
    m_center->addCreationKey(QString::fromLatin1(kPremiumKey), QStringLiteral("premium"));
    return true;
}

E2eServices E2eServiceHost::services() const
{
    return {m_relay->baseUrl(), m_center->baseUrl()};
}
