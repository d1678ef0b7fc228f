import jakarta.jms.Connection;
import jakarta.jms.DeliveryMode;
import jakarta.jms.Message;
import jakarta.jms.MessageConsumer;
import jakarta.jms.MessageProducer;
import jakarta.jms.Session;
import jakarta.jms.TextMessage;

import org.apache.activemq.ActiveMQConnectionFactory;

/**
 * The back office's side of one request, as a JMS client over OpenWire
 * (ActiveMQ's own Java client): sends a persistent TextMessage to the
 * request queue and waits for one message on the reply queue.
 *
 * Arguments: broker-url request-queue reply-queue request-text timeout-ms
 * [user password].
 * Prints "TextMessage" or the reply's JMS type on the first line, then the
 * reply text exactly as received (no line feed added). Exit status 0 when a
 * TextMessage arrived, 3 when nothing arrived in time, 4 for another type.
 */
public final class JmsRoundTrip {
    public static void main(String[] args) throws Exception {
        ActiveMQConnectionFactory factory = new ActiveMQConnectionFactory(args[0]);
        Connection connection = args.length > 6 ? factory.createConnection(args[5], args[6])
                : factory.createConnection();
        try {
            connection.start();
            Session session = connection.createSession(false, Session.AUTO_ACKNOWLEDGE);
            MessageConsumer consumer = session.createConsumer(session.createQueue(args[2]));
            MessageProducer producer = session.createProducer(session.createQueue(args[1]));
            producer.setDeliveryMode(DeliveryMode.PERSISTENT);
            producer.send(session.createTextMessage(args[3]));
            Message reply = consumer.receive(Long.parseLong(args[4]));
            if (reply == null) {
                System.out.println("none");
                System.exit(3);
            }
            if (!(reply instanceof TextMessage)) {
                System.out.println(reply.getClass().getName());
                System.exit(4);
            }
            System.out.println("TextMessage");
            System.out.print(((TextMessage) reply).getText());
            System.out.flush();
        } finally {
            connection.close();
        }
    }
}
