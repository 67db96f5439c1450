// Prints what pst-extractor finds in every message of a PST store, as one JSON object per line:
// the fields the tests compare with what the mail said. An attachment's bytes are written to
// OUT_DIR/<subject>.<n> when a second argument names OUT_DIR. Run with NODE_PATH naming the
// reader set's node_modules.
'use strict';
const fs = require('fs');
const path = require('path');
const { PSTFile } = require('pst-extractor');

const outDir = process.argv[3];

function attachmentBytes(attachment) {
  const stream = attachment.fileInputStream;
  if (!stream) return null;
  const buffer = Buffer.alloc(attachment.filesize);
  stream.readCompletely(buffer);
  return buffer;
}

function dumpMessage(message) {
  const recipients = [];
  for (let r = 0; r < message.numberOfRecipients; r++) {
    const recipient = message.getRecipient(r);
    const type = ['', 'to', 'cc', 'bcc'][recipient ? recipient.recipientType : 0] || '';
    if (recipient) recipients.push({ type, name: recipient.displayName, email: recipient.emailAddress });
  }
  const attachments = [];
  for (let a = 0; a < message.numberOfAttachments; a++) {
    const attachment = message.getAttachment(a);
    attachments.push({ name: attachment.longFilename || attachment.filename, mime: attachment.mimeTag });
    if (outDir && attachment.attachMethod !== 5) {
      const bytes = attachmentBytes(attachment);
      if (bytes) fs.writeFileSync(path.join(outDir, `${message.subject}.${a}`), bytes);
    }
  }
  const time = (t) => (t ? Math.round(t.getTime() / 1000) : null);
  return {
    subject: message.subject,
    messageClass: message.messageClass,
    senderName: message.senderName,
    senderEmail: message.senderEmailAddress,
    displayTo: message.displayTo,
    displayCc: message.displayCC,
    displayBcc: message.displayBCC,
    recipients,
    body: message.body,
    isRead: message.isRead,
    delivered: time(message.messageDeliveryTime),
    submitted: time(message.clientSubmitTime),
    attachments,
  };
}

function walk(folder, out) {
  if (folder.contentCount > 0) {
    for (let m = folder.getNextChild(); m != null; m = folder.getNextChild()) out.push(JSON.stringify(dumpMessage(m)));
  }
  if (folder.hasSubfolders) for (const child of folder.getSubFolders()) walk(child, out);
}

const out = [];
walk(new PSTFile(process.argv[2]).getRootFolder(), out);
process.stdout.write(out.join('\n') + '\n');
