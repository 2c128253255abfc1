#include "text/tooloutput.h"

QString ToolOutputDecoder::decode(QByteArrayView chunk)
{
    return m_cleaner.clean(m_decoder.decode(chunk));
}

QString ToolOutputDecoder::finish()
{
    // The decoder's tail must pass the cleaner before the cleaner lets go of
    // what it holds; two statements, since the operands of + have no fixed
    // order.
    QString tail = m_cleaner.clean(m_decoder.finish());
    tail += m_cleaner.finish();
    return tail;
}
