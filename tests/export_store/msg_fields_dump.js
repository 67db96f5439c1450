// Prints what the independent reader @kenjiuno/msgreader finds in an MSG file as one JSON
// object: the fields the tests compare with what the mail said. Attachment n's bytes are written
// to OUT_DIR/attachment.<n> when a second argument names OUT_DIR.
'use strict';
const fs = require('fs');
const path = require('path');
const MsgReader = require('@kenjiuno/msgreader').default;

const reader = new MsgReader(fs.readFileSync(process.argv[2]));
const data = reader.getFileData();
if (data.error) {
  process.stderr.write(String(data.error) + '\n');
  process.exit(1);
}
const outDir = process.argv[3];
const attachments = (data.attachments || []).map((a, n) => {
  if (outDir && !a.innerMsgContent) fs.writeFileSync(path.join(outDir, `attachment.${n}`), reader.getAttachment(a).content);
  return { name: a.fileName || a.name || '', mime: a.attachMimeTag || '' };
});
const seconds = (text) => (text ? Math.round(Date.parse(text) / 1000) : null);
process.stdout.write(JSON.stringify({
  subject: data.subject,
  messageClass: data.messageClass,
  senderName: data.senderName,
  senderEmail: data.senderEmail,
  recipients: (data.recipients || []).map((r) => ({ type: r.recipType || '', name: r.name, email: r.email || r.smtpAddress || '' })),
  attachments,
  body: data.body,
  headers: data.headers,
  delivered: seconds(data.messageDeliveryTime),
  submitted: seconds(data.clientSubmitTime),
}) + '\n');
