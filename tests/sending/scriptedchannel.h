#pragma once

#include "sending/sendchannel.h"

#include <QStringList>
#include <QTimer>

#include <functional>

// A channel the test answers for: which numbers it was handed, what each
// send comes to, whether it is there. For the runner's own rules; the real
// devices are met through the real daemons elsewhere.
class ScriptedChannel : public SendChannel
{
    Q_OBJECT

public:
    using Answer = std::function<SendResult(const QString &number)>;

    explicit ScriptedChannel(QString id, QObject *parent = nullptr)
        : SendChannel(parent)
        , m_id(std::move(id))
    {
    }

    QString deviceId() const override { return m_id; }
    QString label() const override { return QStringLiteral("卡 ") + m_id; }
    void prepare(const Prepared &done) override
    {
        QTimer::singleShot(0, this, [this, done] { done(m_refusal.isEmpty(), m_refusal); });
    }
    void send(const QString &number, const QString &, const Created &, const Done &done) override
    {
        sentTo.append(number);
        const SendResult result = m_answer ? m_answer(number) : SendResult{RecordState::Sent, {}, {}, -1};
        if (m_holding) {
            m_held.append([done, result] { done(result); });
            return;
        }
        QTimer::singleShot(0, this, [done, result] { done(result); });
    }
    bool isPresent() const override { return m_present; }
    QString absence() const override { return m_present ? QString() : QStringLiteral("拔掉了"); }

    void answerWith(Answer answer) { m_answer = std::move(answer); }
    void refusePreparation(const QString &why) { m_refusal = why; }
    void setPresent(bool present)
    {
        m_present = present;
        emit availabilityChanged();
    }
    // Answers wait until released (a message under way).
    void hold() { m_holding = true; }
    void release()
    {
        m_holding = false;
        for (const auto &answer : std::exchange(m_held, {}))
            answer();
    }

    QStringList sentTo;

private:
    QString m_id;
    Answer m_answer;
    QString m_refusal;
    bool m_present = true;
    bool m_holding = false;
    QList<std::function<void()>> m_held;
};
