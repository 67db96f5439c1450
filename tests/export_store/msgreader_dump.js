// Prints what the independent reader @kenjiuno/msgreader finds in an MSG file, as JSON.
const fs = require('fs');
const MsgReader = require('@kenjiuno/msgreader').default;

const reader = new MsgReader(fs.readFileSync(process.argv[2]));
const data = reader.getFileData();
if (data.error) {
  process.stderr.write(String(data.error) + '\n');
  process.exit(1);
}
process.stdout.write(JSON.stringify({
  subject: data.subject,
  senderName: data.senderName,
  senderEmail: data.senderEmail,
  recipients: (data.recipients || []).map((r) => ({ name: r.name, email: r.email || r.smtpAddress || '' })),
  attachments: (data.attachments || []).map((a) => a.fileName || a.name || ''),
  body: data.body,
}) + '\n');
