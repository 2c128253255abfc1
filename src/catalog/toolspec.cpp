#include "catalog/toolspec.h"

const QList<ToolSpec>& ToolSpec::all()
{
    static const QList<ToolSpec> catalogue{
        {QStringLiteral("claude"), {QStringLiteral("-p")}},
        {QStringLiteral("gemini"), {QStringLiteral("-p")}},
        {QStringLiteral("hermes"), {QStringLiteral("chat"), QStringLiteral("-q")}},
    };
    return catalogue;
}
