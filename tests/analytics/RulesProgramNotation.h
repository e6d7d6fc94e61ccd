#pragma once

// Rule programs for tests, written in a compact text notation and built in
// the configuration's own form (entity trees inside a program message), so
// that tests state programs readably.
//
//   "text"          a string entity (\" and \\ escape, \n a line break)
//   12  -3.5  1e21  a number entity; `nan` a number entity without a value
//   true  false     a boolean entity
//   $name           reading a variable: (15 "name")
//   (op arg ...)    a statement; `op` is an opcode number, one of the names
//                   below, or any other name (a function call by name)
//
// Operator names: + && call = break run continue array map / == seq get
// prop > >= === !== if < <= % * neg ! != || first same return - switch ?
// typeof let while setprop undefined null list forin defun fn const block
// forin-const forin-let & << ~ | >> >>> ^ for forof forof-const forof-let.
// `prop` reads a property (16), `setprop` writes one (43), `get` reads a
// variable (15), `=` assigns (3), `let` declares (41), `const` declares
// constants (52), `list` is a raw statement list (46), `call` a method call
// (2), `seq` a sequence (13).

#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBOgtActivities.h"
#include "analytics/wire/APMPBOgtActivity.h"
#include "analytics/wire/APMPBProgram.h"
#include "analytics/wire/APMPBRuntimeEntity.h"

#include <QHash>
#include <QString>

#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace rulesnotation {

using Entity = std::unique_ptr<APMPBRuntimeEntity>;
using Entities = std::vector<Entity>;

inline const QHash<QString, QString>& operatorNames()
{
    static const QHash<QString, QString> names = {
        { "+", "0" }, { "&&", "1" }, { "call", "2" }, { "=", "3" }, { "break", "4" }, { "run", "5" },
        { "continue", "6" }, { "array", "7" }, { "map", "8" }, { "/", "10" }, { "==", "12" }, { "seq", "13" },
        { "get", "15" }, { "prop", "16" }, { ">", "18" }, { ">=", "19" }, { "===", "20" }, { "!==", "21" },
        { "if", "22" }, { "<", "23" }, { "<=", "24" }, { "%", "25" }, { "*", "26" }, { "neg", "27" }, { "!", "28" },
        { "!=", "29" }, { "||", "30" }, { "first", "32" }, { "same", "34" }, { "return", "36" }, { "-", "37" },
        { "switch", "38" }, { "?", "39" }, { "typeof", "40" }, { "let", "41" }, { "while", "42" },
        { "setprop", "43" }, { "undefined", "44" }, { "null", "45" }, { "list", "46" }, { "forin", "47" },
        { "defun", "50" }, { "fn", "51" }, { "const", "52" }, { "block", "53" }, { "forin-const", "54" },
        { "forin-let", "55" }, { "&", "56" }, { "<<", "57" }, { "~", "58" }, { "|", "59" }, { ">>", "60" },
        { ">>>", "61" }, { "^", "62" }, { "for", "63" }, { "forof", "64" }, { "forof-const", "65" },
        { "forof-let", "66" },
    };
    return names;
}

class Parser {
public:
    explicit Parser(const QString& text)
        : text_(text)
    {
    }

    Entities all()
    {
        Entities entities;
        for (skipBlanks(); at_ < text_.size(); skipBlanks())
            entities.push_back(one());
        return entities;
    }

private:
    static Entity make(int32_t type)
    {
        auto entity = APMPBRuntimeEntity::initWithMessageInfo();
        APMPBSetInt32Field(entity.get(), 0, type);
        return entity;
    }

    void skipBlanks()
    {
        while (at_ < text_.size() && (text_[at_].isSpace() || text_[at_] == u';')) {
            if (text_[at_] == u';') { // a comment to the end of the line
                while (at_ < text_.size() && text_[at_] != u'\n')
                    ++at_;
            } else {
                ++at_;
            }
        }
    }

    [[noreturn]] void fail(const char* what) const
    {
        throw std::runtime_error(std::string(what) + " at " + std::to_string(at_) + " in: " + text_.toStdString());
    }

    QString word()
    {
        const qsizetype start = at_;
        while (at_ < text_.size() && !text_[at_].isSpace() && text_[at_] != u'(' && text_[at_] != u')')
            ++at_;
        return text_.mid(start, at_ - start);
    }

    Entity one()
    {
        skipBlanks();
        if (at_ >= text_.size())
            fail("unexpected end");
        const QChar c = text_[at_];
        if (c == u'(') {
            ++at_;
            skipBlanks();
            const QString head = word();
            if (head.isEmpty())
                fail("statement without a name");
            Entity statement = make(4);
            APMPBSetStringField(statement.get(), 2, operatorNames().value(head, head));
            Entities arguments;
            for (skipBlanks(); at_ < text_.size() && text_[at_] != u')'; skipBlanks())
                arguments.push_back(one());
            if (at_ >= text_.size())
                fail("missing )");
            ++at_;
            if (!arguments.empty())
                APMPBSetArrayField(statement.get(), 1, arguments);
            return statement;
        }
        if (c == u'"') {
            ++at_;
            QString value;
            while (at_ < text_.size() && text_[at_] != u'"') {
                if (text_[at_] == u'\\' && at_ + 1 < text_.size()) {
                    ++at_;
                    value += text_[at_] == u'n' ? QChar(u'\n') : text_[at_];
                } else {
                    value += text_[at_];
                }
                ++at_;
            }
            if (at_ >= text_.size())
                fail("missing closing quote");
            ++at_;
            Entity string = make(1);
            APMPBSetStringField(string.get(), 3, value);
            return string;
        }
        const QString token = word();
        if (token == QLatin1String("true") || token == QLatin1String("false")) {
            Entity boolean = make(3);
            APMPBSetBoolField(boolean.get(), 4, token == QLatin1String("true"));
            return boolean;
        }
        if (token == QLatin1String("nan"))
            return make(2);
        if (token.startsWith(u'$')) {
            Entity name = make(1);
            APMPBSetStringField(name.get(), 3, token.mid(1));
            Entity read = make(4);
            APMPBSetStringField(read.get(), 2, QStringLiteral("15"));
            Entities arguments;
            arguments.push_back(std::move(name));
            APMPBSetArrayField(read.get(), 1, arguments);
            return read;
        }
        bool ok = false;
        const double number = token.toDouble(&ok);
        if (!ok)
            fail("unknown token");
        Entity value = make(2);
        APMPBSetDoubleField(value.get(), 5, number);
        return value;
    }

    QString text_;
    qsizetype at_ = 0;
};

// The entities of the text, in order.
inline Entities entities(const QString& text)
{
    return Parser(text).all();
}

// The one entity of the text.
inline Entity entity(const QString& text)
{
    Entities all = entities(text);
    if (all.size() != 1)
        throw std::runtime_error("expected one entity in: " + text.toStdString());
    return std::move(all.front());
}

struct Activity {
    QString name;
    QString data; // entities, in notation
};

// A program of top-level statements and activities.
inline std::unique_ptr<APMPBProgram> program(const QString& statements, const std::vector<Activity>& activities = {})
{
    auto program = APMPBProgram::initWithMessageInfo();
    const Entities instructions = entities(statements);
    if (!instructions.empty())
        APMPBSetArrayField(program.get(), 0, instructions);
    if (!activities.empty()) {
        std::vector<std::unique_ptr<APMPBOgtActivity>> list;
        for (const Activity& activity : activities) {
            auto message = APMPBOgtActivity::initWithMessageInfo();
            APMPBSetStringField(message.get(), 0, activity.name);
            const Entities data = entities(activity.data);
            if (!data.empty())
                APMPBSetArrayField(message.get(), 1, data);
            list.push_back(std::move(message));
        }
        auto wrapper = APMPBOgtActivities::initWithMessageInfo();
        APMPBSetArrayField(wrapper.get(), 0, list);
        APMPBSetMessageField(program.get(), 1, wrapper.get());
    }
    return program;
}

} // namespace rulesnotation
