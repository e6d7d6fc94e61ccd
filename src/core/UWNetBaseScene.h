#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

// How a scene request of UWHttpRequestManager reads its reply.
enum class UWResultBackType : int {
    AlwaysSuccess = 0, // every reply object is a success
    ResultCode = 1, // the reply carries a result code
    NoCallback = 2, // a reply object calls no callback
};

// One request of the request manager, described by its parts. Concrete
// requests derive from UWNetBaseScene and override what they need.
class UWNetSceneInterface {
public:
    virtual ~UWNetSceneInterface() = default;
    virtual QString schema() const = 0;
    virtual QString requestURL() const = 0;
    virtual QString httpMethod() const = 0;
    virtual QVariantMap requestHeader() const = 0;
    virtual QVariantMap requestParameters() const = 0;
    virtual std::optional<QByteArray> requestBody() const = 0;
    virtual int timeOutInterval() const = 0; // seconds
    virtual UWResultBackType resultBackType() const = 0;
    virtual QString resultCodeParsingField() const = 0;
    virtual QString resultMessageParsingField() const = 0;
    virtual QString resultDataOneFloorParsingField() const = 0;
    virtual QString resultDataTwoFloorParsingField() const = 0;
};

// The base values of a scene: a GET of the maker's AI server with the
// client's channel, MAC address and version, whose reply calls no callback.
//
// The AI server's address is a setting (kAddressPreferenceKey) with an
// environment override (kAddressVariable); unset means not configured, and
// the request is refused. It must be HTTPS.
class UWNetBaseScene : public UWNetSceneInterface {
public:
    static const char* const kAddressVariable; // "PRAVIK_AI_SERVER_URL"
    static const QString kAddressPreferenceKey; // "AIServerURL"
    static const QString kChannelName; // "UWKS"

    void setMyParameters(const QVariantMap& parameters) { myParam_ = parameters; }
    void setMyRequestHeader(const QVariantMap& header) { myHeaderParam_ = header; }
    void setMyRequestBody(const QByteArray& body) { myBodyData_ = body; }

    QString schema() const override { return QStringLiteral("HTTP"); }
    QString requestURL() const override;
    QString httpMethod() const override { return QStringLiteral("GET"); }
    QVariantMap requestHeader() const override;
    QVariantMap requestParameters() const override;
    std::optional<QByteArray> requestBody() const override { return myBodyData_; }
    int timeOutInterval() const override { return 10; }
    UWResultBackType resultBackType() const override { return UWResultBackType::NoCallback; }
    QString resultCodeParsingField() const override { return QStringLiteral("rc"); }
    QString resultMessageParsingField() const override { return QStringLiteral("msg"); }
    QString resultDataOneFloorParsingField() const override { return QStringLiteral("data"); }
    QString resultDataTwoFloorParsingField() const override { return QString(); }

private:
    std::optional<QVariantMap> myParam_;
    std::optional<QVariantMap> myHeaderParam_;
    std::optional<QByteArray> myBodyData_;
};
